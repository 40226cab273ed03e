#include "cli/Interrupt.h"

#include <windows.h>

#include <atomic>
#include <csignal>

namespace dpx::cli {
namespace {
std::atomic<int> caught{0};

// Runs on a thread of its own. Ctrl-C and Ctrl-Break are only noted (a second one ends the
// program); for the console closing, logoff and shutdown the system ends the process when
// this returns, so it gives the run a few seconds to log off first.
BOOL WINAPI Note(DWORD event) {
    const int signal = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
    int none = 0;
    if (!caught.compare_exchange_strong(none, signal)) return signal == SIGINT ? FALSE : TRUE;
    if (signal == SIGTERM) Sleep(4000);
    return TRUE;
}
}  // namespace

void CatchInterrupts() { SetConsoleCtrlHandler(Note, TRUE); }

int InterruptSignal() { return caught.load(); }

int InterruptDescriptor() { return -1; }

}  // namespace dpx::cli
