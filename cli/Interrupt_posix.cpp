#include "cli/Interrupt.h"

#include <csignal>

namespace dpx::cli {
namespace {
volatile std::sig_atomic_t caught = 0;

void Note(int signal) {
    if (caught == 0) caught = signal;
}
}  // namespace

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = Note;
    sigemptyset(&action.sa_mask);
    // Blocking waits go on where they were (each has its own limit); the next signal of the
    // same kind has its default effect.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int InterruptSignal() { return caught; }

}  // namespace dpx::cli
