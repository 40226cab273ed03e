#include "tests/support/ChildProcess.h"

#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

namespace dpx::test {

using namespace std::chrono_literals;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ChildStart AwaitChildReady(pid_t pid, const std::function<bool()>& ready) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!ready()) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) return ChildStart::kEnded;
        if (std::chrono::steady_clock::now() > deadline) return ChildStart::kLate;
        std::this_thread::sleep_for(1ms);
    }
    return ChildStart::kReady;
}

void EndChild(pid_t pid) {
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return;
        }
        std::this_thread::sleep_for(1ms);
    }
}

}  // namespace dpx::test
