#include "cli/Interrupt.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace dpx::cli {
namespace {
std::atomic<int> caught{0};
// Set in a process that dpx20ctl's Windows service starts (cli/Service_win.cpp): the handle of
// an event it inherits, set when the service is to stop.
constexpr char kStopEventVariable[] = "DPX20_STOP_EVENT";
std::atomic<bool> service_child{false};

// Runs on a thread of its own. Ctrl-C and Ctrl-Break are only noted (a second one ends the
// program); for the console closing, logoff and shutdown the system ends the process when
// this returns, so it gives the run a few seconds to log off first.
BOOL WINAPI Note(DWORD event) {
    // A user's logoff is not the end of a service's process: handled, and nothing else.
    if (event == CTRL_LOGOFF_EVENT && service_child) return TRUE;
    const int signal = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
    int none = 0;
    if (!caught.compare_exchange_strong(none, signal)) return signal == SIGINT ? FALSE : TRUE;
    if (signal == SIGTERM) Sleep(4000);
    return TRUE;
}
}  // namespace

void CatchInterrupts() {
    SetConsoleCtrlHandler(Note, TRUE);
    // The service's stop is SIGTERM, noted when the event is set.
    static bool watching = false;
    const char* stop = std::getenv(kStopEventVariable);
    if (watching || !stop || !*stop) return;
    watching = service_child = true;
    const auto event = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(stop, nullptr, 10)));
    std::thread([event] {
        if (WaitForSingleObject(event, INFINITE) != WAIT_OBJECT_0) return;
        int none = 0;
        caught.compare_exchange_strong(none, SIGTERM);
    }).detach();
}

int InterruptSignal() { return caught.load(); }

int InterruptDescriptor() { return -1; }

}  // namespace dpx::cli
