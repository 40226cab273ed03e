#include "cli/Interrupt.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace dpx::cli {
namespace {
volatile std::sig_atomic_t caught = 0;
int wake[2] = {-1, -1};  // a pipe: the handler writes a byte that wakes whoever watches it

void Note(int signal) {
    if (caught == 0) caught = signal;
    if (wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = write(wake[1], &byte, 1);  // full: a wake is due anyway
    }
}
}  // namespace

void CatchInterrupts() {
    if (wake[0] < 0 && pipe(wake) == 0) {
        for (int fd : wake) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
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

int InterruptDescriptor() { return wake[0]; }

}  // namespace dpx::cli
