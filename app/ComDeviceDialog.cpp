#include "app/ComDeviceDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

namespace dpx {

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }
constexpr char kSizeKey[] = "com_device_dialog/size";
}  // namespace

ComDeviceDialog::ComDeviceDialog(int n, PortLister list_ports, QWidget* parent)
    : QDialog(parent), n_(n), list_ports_(std::move(list_ports)) {
    setWindowTitle(QStringLiteral("COM %1 device").arg(n));
    setModal(true);
    setSizeGripEnabled(true);
    auto* layout = new QVBoxLayout(this);

    QString now = QStringLiteral("COM %1 now: %2").arg(n).arg(Q(platform::ComDeviceName(n)));
    const std::string variable = platform::ComEnvironmentVariable(n);
    if (const char* set = std::getenv(variable.c_str()); set && *set)
        now += QStringLiteral("\n(%1 is set and comes before the choice made here.)").arg(Q(variable));
    layout->addWidget(new QLabel(now, this));

    auto* list_title = new QHBoxLayout;
    list_title->addWidget(new QLabel(QStringLiteral("Serial ports on this system:"), this));
    list_title->addStretch();
    auto* refresh_button = new QPushButton(QStringLiteral("Refresh"), this);
    refresh_button->setAutoDefault(false);  // Enter stays with OK
    connect(refresh_button, &QPushButton::clicked, this, &ComDeviceDialog::Refresh);
    list_title->addWidget(refresh_button);
    layout->addLayout(list_title);
    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels({QStringLiteral("Device"), QStringLiteral("Description"), QStringLiteral("Manufacturer"),
                            QStringLiteral("Serial number"), QStringLiteral("Stable name")});
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(list_, 1);

    layout->addWidget(new QLabel(QStringLiteral("Device:"), this));
    field_ = new QLineEdit(Q(platform::SavedComDevice(n)), this);
    field_->setPlaceholderText(Q(platform::DefaultComDevice(n)) + QStringLiteral(" (default)"));
    layout->addWidget(field_);
    auto* hint = new QLabel(Q(platform::PortNameHint()), this);
    hint->setWordWrap(true);
    layout->addWidget(hint);
    problem_ = new QLabel(this);
    problem_->setStyleSheet(QStringLiteral("color: #b00000"));
    problem_->hide();
    layout->addWidget(problem_);

    // The field takes a row only when the operator picks it (a click, the arrow keys). The
    // row a list makes current when it merely takes the focus is not selected, so OK and
    // Enter keep the saved name byte for byte. An adapter goes in by its stable name.
    const auto pick = [this](QTreeWidgetItem* item) {
        const int row = list_->indexOfTopLevelItem(item);
        if (row < 0) return;
        const platform::SerialPortEntry& port = ports_[static_cast<size_t>(row)];
        field_->setText(Q(port.by_id.empty() ? port.location : port.by_id));
    };
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this, pick] {
        if (const QList<QTreeWidgetItem*> picked = list_->selectedItems(); !picked.isEmpty()) pick(picked.front());
    });
    connect(list_, &QTreeWidget::itemClicked, this, pick);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &ComDeviceDialog::accept);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* default_button = buttons->addButton(QStringLiteral("Default"), QDialogButtonBox::ResetRole);
    connect(default_button, &QPushButton::clicked, this, &ComDeviceDialog::ChooseDefault);
    connect(buttons, &QDialogButtonBox::accepted, this, &ComDeviceDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ComDeviceDialog::reject);
    layout->addWidget(buttons);

    Refresh();
    field_->setFocus();
    const QSize kept = platform::UserSettings()->value(kSizeKey).toSize();
    resize(kept.isValid() ? kept : QSize(WidthForColumns(), sizeHint().height()));
}

void ComDeviceDialog::Refresh() {
    ports_ = list_ports_();
    const std::string now = field_->text().trimmed().toStdString();
    const QSignalBlocker quiet(list_);  // filling the list is no pick
    list_->clear();
    for (const platform::SerialPortEntry& port : ports_) {
        auto* item = new QTreeWidgetItem(
            {Q(port.location), Q(port.description), Q(port.manufacturer), Q(port.serial_number), Q(port.by_id)});
        list_->addTopLevelItem(item);
        if (!now.empty() && (now == port.by_id || now == port.location)) list_->setCurrentItem(item);
    }
}

int ComDeviceDialog::WidthForColumns() const {
    int columns = 0;
    for (int c = 0; c < list_->columnCount(); ++c) {
        int width = list_->header()->sectionSizeHint(c);
        for (int row = 0; row < list_->topLevelItemCount(); ++row)
            width = std::max(width, list_->sizeHintForIndex(list_->model()->index(row, c)).width());
        columns += width;
    }
    const QMargins margins = layout()->contentsMargins();
    const int wanted = columns + 2 * list_->frameWidth() + list_->verticalScrollBar()->sizeHint().width() +
                       margins.left() + margins.right();
    const int room = screen() ? screen()->availableGeometry().width() : wanted;
    return std::max(sizeHint().width(), std::min(wanted, room));
}

void ComDeviceDialog::accept() {
    const std::string name = field_->text().trimmed().toStdString();
    std::string why;
    if (!platform::CheckPortName(name, &why)) {
        problem_->setText(Q(why));
        problem_->show();
        return;
    }
    platform::SaveComDevice(n_, name);
    QDialog::accept();
}

void ComDeviceDialog::ChooseDefault() {
    platform::SaveComDevice(n_, {});
    QDialog::accept();
}

void ComDeviceDialog::done(int result) {
    platform::UserSettings()->setValue(kSizeKey, size());
    QDialog::done(result);
}

}  // namespace dpx
