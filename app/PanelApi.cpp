#include "app/PanelApi.h"

#include <QAction>
#include <QApplication>
#include <QInputDialog>
#include <QSettings>

#include "common/MessageSink.h"
#include "platform/ComPorts.h"
#include "ui/QtMessageSink.h"
#include "settings/OptionFile.h"

namespace dpx {

PanelApi::PanelApi(TopDialog& panel, ui::QtMessageSink* notices)
    : panel_(panel), api_(panel.BoxSession(), *this), server_(api_), notices_(notices) {
    // The event clients hear of a notice as it opens: the box waits for the operator.
    if (notices_)
        notices_->Watch([this](const std::string& text, const std::string& detail) {
            api_.NoteMessage(detail.empty() ? text : text + "\n" + detail);
        });
    auto* action = new QAction(QStringLiteral("Control API..."), &panel_);
    QObject::connect(action, &QAction::triggered, &panel_, [this] { Configure(); });
    panel_.addAction(action);
}

PanelApi::~PanelApi() {
    if (notices_) notices_->Unwatch();
    ember_.reset();
    server_.Close();
}

bool PanelApi::Start(const std::string& address, std::string* why) {
    server_.Close();
    address_.clear();
    if (!address.empty() && !server_.Listen(address, why)) return false;
    address_ = address;
    return true;
}

bool PanelApi::StartEmber(const std::string& address, std::string* why) {
    ember_.reset();
    ember_ = ember::StartEmber(api_, &server_, address, why);
    return ember_ != nullptr;
}

std::string PanelApi::Where() const {
    const std::string url = server_.Url();
    if (url.empty() || !server_.TokenRequired()) return url;
    return url + " (clients send the token kept in " + api::TokenFile() + ")";
}

void PanelApi::ShowSettings() {
    panel_.BoxSession().SaveOptions();
    // The controls only, from the record as the box's thread has it now: the file is written
    // and the link has its COM port already.
    QMetaObject::invokeMethod(&panel_, [this, shown = panel_.BoxSession().Record()] { panel_.ShowRecord(shown); },
                              Qt::QueuedConnection);
}

void PanelApi::ShowConnected() {
    QMetaObject::invokeMethod(&panel_, [this] { panel_.ShowConnectState(); }, Qt::QueuedConnection);
}

std::string PanelApi::Device() const {
    const int n = panel_.BoxSession().View().record.com_port_num;
    return n >= 1 && n <= 8 ? platform::ComDeviceName(n) : std::string();
}

std::string PanelApi::PortKind() const { return platform::PortKind(Device()); }

void PanelApi::Configure() {
    const std::string where = Where();
    const QString now = where.empty() ? QStringLiteral("It serves nothing now.") : QStringLiteral("It serves at %1.").arg(QString::fromStdString(where));
    bool ok = false;
    const QString address = QInputDialog::getText(
        &panel_, QStringLiteral("Control API"),
        QStringLiteral("%1\n\nServe the control API at [ADDRESS:]PORT, e.g. 127.0.0.1:8420\n"
                       "(an address other than 127.0.0.1 asks clients for a token); empty: no control API.")
            .arg(now),
        QLineEdit::Normal,
        address_.empty() ? platform::UserSettings()->value(kApiListenKey).toString() : QString::fromStdString(address_), &ok)
                             .trimmed();
    if (!ok) return;
    std::string why;
    if (!Start(address.toStdString(), &why)) {
        ShowMessage("The control API cannot start.", why);
        return;
    }
    platform::UserSettings()->setValue(kApiListenKey, address);
}

}  // namespace dpx
