// dpx20remote: the desktop controller of the ZR-DPX20 over RS-232C.
#include <QApplication>

#include "app/RemoteApp.h"
#include "link/RS232c_bios.h"
#include "platform/ComPorts.h"
#include "ui/LayoutDialog.h"
#include "ui/Pictures.h"
#include "ui/QtMessageSink.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("dpx20remote"));
    QApplication::setWindowIcon(dpx::ui::ProgramIcon());
    dpx::ui::InstallFontSubstitution();

    dpx::ui::QtMessageSink message_box;
    dpx::SetMessageSink(&message_box);
    dpx::RS232c_bios& link = dpx::Link();
    link.SetPortFactory(dpx::platform::MakePortFactory(), dpx::platform::ComDeviceName);

    const int code = dpx::RemoteApp().Run(link);
    dpx::SetMessageSink(nullptr);
    return code;
}
