// Cold start of the main control panel: from starting a fresh process to the panel's first
// paint, with the options file of a returning operator in a working directory of its own.
// Each run execs this program again (so the dynamic loading, Qt's start-up and the fonts
// count), and the child reports its first paint through a pipe.
// Prints figures only. Usage: panel_bench [runs] (default 7). Without a display the runs
// use the offscreen platform.
#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/TopDialog.h"
#include "link/RS232c_bios.h"
#include "platform/QtWorker.h"
#include "settings/OptionFile.h"
#include "ui/LayoutDialog.h"
#include "ui/Pictures.h"

namespace {

using Clock = std::chrono::steady_clock;

// Writes one byte to `fd` when the watched widget is painted for the first time, then
// ends the event loop.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(int fd) : fd_(fd) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && fd_ >= 0) {
            const char byte = 1;
            if (::write(fd_, &byte, 1) != 1) std::perror("panel_bench: pipe");
            ::close(fd_);
            fd_ = -1;
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    int fd_;
};

// The child: the program's own start-up up to the first paint of the panel.
int Child(int argc, char** argv, int fd) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(dpx::ui::ProgramIcon());
    dpx::ui::InstallFontSubstitution();
    dpx::TopDialog panel(dpx::Session::Box{std::make_unique<dpx::RS232c_bios>(), std::make_unique<dpx::platform::QtWorker>()});
    FirstPaint watch(fd);
    panel.installEventFilter(&watch);
    panel.show();
    return application.exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--child") return Child(1, argv, std::atoi(argv[2]));

    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    char pattern[] = "/tmp/panel_bench-XXXXXX";
    if (!::mkdtemp(pattern)) { std::perror("panel_bench: mkdtemp"); return 1; }
    const std::filesystem::path dir = pattern;
    std::filesystem::current_path(dir);
    dpx::WriteOptionFile(dpx::options_file_name, dpx::SettingsRecord{});

    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        int fds[2];
        if (::pipe(fds) != 0) { std::perror("panel_bench: pipe"); return 1; }
        const auto t0 = Clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execl(self.c_str(), self.c_str(), "--child", fd.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        char byte = 0;
        const bool painted = ::read(fds[0], &byte, 1) == 1;
        const auto t1 = Clock::now();
        ::close(fds[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!painted) {
            std::fprintf(stderr, "panel_bench: run %d: the panel was never painted (status %d)\n", i, status);
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::filesystem::remove_all(dir);
    std::sort(ms.begin(), ms.end());
    std::printf("cold start to the panel's first paint (%s platform), %d runs: median %.1f ms, best %.1f ms, worst %.1f ms\n",
                std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "display", runs,
                ms[ms.size() / 2], ms.front(), ms.back());
    return 0;
}
