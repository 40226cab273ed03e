// dpx20remote: the desktop controller of the ZR-DPX20 over RS-232C.
#include <QApplication>
#include <QSettings>
#include <cstdio>
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "app/PanelApi.h"
#include "app/RemoteApp.h"
#include "http/TlsBackend.h"
#include "link/RS232c_bios.h"
#include "platform/ComPorts.h"
#include "platform/QtWorker.h"
#include "ui/LayoutDialog.h"
#include "ui/Pictures.h"
#include "ui/QtMessageSink.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// The panel is a program without a console on Windows: what it prints reaches a console only
// where the console's user redirected it. For --help, --version and a refused command line,
// the text goes to the console the panel was started from, if any (cmd.exe does not wait for
// such a program, so it shows after the next prompt; `start /wait` waits).
void PrintToStartingConsole() {
#ifdef _WIN32
    const auto redirected = [](DWORD which) {
        const HANDLE h = GetStdHandle(which);
        return h != nullptr && h != INVALID_HANDLE_VALUE;
    };
    const bool out = redirected(STD_OUTPUT_HANDLE), err = redirected(STD_ERROR_HANDLE);
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (!out) std::freopen("CONOUT$", "w", stdout);
    if (!err) std::freopen("CONOUT$", "w", stderr);
#endif
}

// Where the control API is served: --api [ADDR:]PORT, else the user's saved address; "off" or
// an empty one: nowhere.
std::string ApiAddress(const dpx::PanelOptions& options) {
    if (options.api) return *options.api == "off" ? std::string() : *options.api;
    return dpx::platform::UserSettings()->value(dpx::kApiListenKey).toString().toStdString();
}

}  // namespace

int main(int argc, char** argv) {
    // The command line is settled before a window opens: --help and --version need no display.
    const dpx::PanelOptions options = dpx::ParsePanelArguments(argc, argv);
    if (!options.error.empty() || options.help || options.version) PrintToStartingConsole();
    if (!options.error.empty()) {
        std::fprintf(stderr, "dpx20remote: %s\nTry 'dpx20remote --help'.\n", options.error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(dpx::kPanelUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("dpx20remote %s\n", DPX20_VERSION);
        return 0;
    }
    QApplication application(argc, argv);
    dpx::api::PreferOpenSslBackend();  // before anything uses TLS
    QApplication::setApplicationName(QStringLiteral("dpx20remote"));
    QApplication::setWindowIcon(dpx::ui::ProgramIcon());
    dpx::ui::InstallFontSubstitution();

    dpx::ui::QtMessageSink message_box;
    dpx::SetMessageSink(&message_box);
    auto link = std::make_unique<dpx::RS232c_bios>();
    link->SetPortFactory(dpx::platform::MakePortFactory(), dpx::platform::ComDeviceName);
    link->SetAstrayRecords(std::make_shared<dpx::AstrayRecords>(dpx::AstrayRecords::DefaultFolder()));
    // The serial work runs on a thread of its own: the panel keeps painting and answering the
    // window manager while the box is slow or silent.
    const int code = dpx::RemoteApp().Run({std::move(link), std::make_unique<dpx::platform::QtWorker>()}, message_box,
                                          ApiAddress(options), options.api_cert, options.api_key, options.ember);
    dpx::SetMessageSink(nullptr);
    return code;
}
