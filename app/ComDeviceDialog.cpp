#include "app/ComDeviceDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdlib>

namespace dpx {

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

ComDeviceDialog::ComDeviceDialog(int n, std::vector<platform::SerialPortEntry> ports, QWidget* parent)
    : QDialog(parent), n_(n), ports_(std::move(ports)) {
    setWindowTitle(QStringLiteral("COM %1 device").arg(n));
    setModal(true);
    auto* layout = new QVBoxLayout(this);

    QString now = QStringLiteral("COM %1 now: %2").arg(n).arg(Q(platform::ComDeviceName(n)));
    const std::string variable = platform::ComEnvironmentVariable(n);
    if (const char* set = std::getenv(variable.c_str()); set && *set)
        now += QStringLiteral("\n(%1 is set and comes before the choice made here.)").arg(Q(variable));
    layout->addWidget(new QLabel(now, this));

    layout->addWidget(new QLabel(QStringLiteral("Serial ports on this system:"), this));
    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels({QStringLiteral("Device"), QStringLiteral("Description"), QStringLiteral("Manufacturer"),
                            QStringLiteral("Serial number"), QStringLiteral("Stable name")});
    for (const platform::SerialPortEntry& port : ports_) {
        list_->addTopLevelItem(new QTreeWidgetItem(
            {Q(port.location), Q(port.description), Q(port.manufacturer), Q(port.serial_number), Q(port.by_id)}));
    }
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(list_);

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

    // An adapter goes into the field by its stable name when it has one.
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        const int row = list_->indexOfTopLevelItem(item);
        if (row < 0) return;
        const platform::SerialPortEntry& port = ports_[static_cast<size_t>(row)];
        field_->setText(Q(port.by_id.empty() ? port.location : port.by_id));
    });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &ComDeviceDialog::accept);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* default_button = buttons->addButton(QStringLiteral("Default"), QDialogButtonBox::ResetRole);
    connect(default_button, &QPushButton::clicked, this, &ComDeviceDialog::ChooseDefault);
    connect(buttons, &QDialogButtonBox::accepted, this, &ComDeviceDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ComDeviceDialog::reject);
    layout->addWidget(buttons);
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

}  // namespace dpx
