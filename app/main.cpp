// dpx20remote: the desktop controller of the ZR-DPX20 over RS-232C.
#include <QApplication>
#include <QSettings>
#include <QStringList>
#include <string>

#include "app/PanelApi.h"
#include "app/RemoteApp.h"
#include "link/RS232c_bios.h"
#include "platform/ComPorts.h"
#include "platform/QtWorker.h"
#include "ui/LayoutDialog.h"
#include "ui/Pictures.h"
#include "ui/QtMessageSink.h"

namespace {

// Where the control API is served: --api [ADDR:]PORT, else the user's saved address; "off" or
// an empty one: nowhere. Other arguments are left alone.
std::string ApiAddress(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString address;
        if (arguments[i] == QStringLiteral("--api") && i + 1 < arguments.size()) address = arguments[i + 1];
        else if (arguments[i].startsWith(QStringLiteral("--api="))) address = arguments[i].mid(6);
        else continue;
        return address == QStringLiteral("off") ? std::string() : address.toStdString();
    }
    return dpx::platform::UserSettings()->value(dpx::kApiListenKey).toString().toStdString();
}

// The value of --NAME VALUE or --NAME=VALUE, else empty.
std::string OptionValue(const QStringList& arguments, const QString& name) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == name && i + 1 < arguments.size()) return arguments[i + 1].toStdString();
        if (arguments[i].startsWith(name + '=')) return arguments[i].mid(name.size() + 1).toStdString();
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("dpx20remote"));
    QApplication::setWindowIcon(dpx::ui::ProgramIcon());
    dpx::ui::InstallFontSubstitution();

    dpx::ui::QtMessageSink message_box;
    dpx::SetMessageSink(&message_box);
    dpx::RS232c_bios& link = dpx::Link();
    link.SetPortFactory(dpx::platform::MakePortFactory(), dpx::platform::ComDeviceName);
    // The serial work runs on a thread of its own: the panel keeps painting and answering the
    // window manager while the box is slow or silent.
    dpx::platform::QtWorker worker;
    link.SetExecutor(&worker);

    const QStringList arguments = QApplication::arguments();
    const int code = dpx::RemoteApp().Run(link, ApiAddress(arguments), OptionValue(arguments, QStringLiteral("--api-cert")),
                                          OptionValue(arguments, QStringLiteral("--api-key")),
                                          OptionValue(arguments, QStringLiteral("--ember")));
    link.ClosePorts();
    link.SetExecutor(nullptr);
    dpx::SetMessageSink(nullptr);
    return code;
}
