#include "tests/support/Ser2netProcess.h"

#include "tests/support/ChildProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace dpx::test {
namespace {

using namespace std::chrono_literals;

// Whether something listens on 127.0.0.1:port, from the kernel's table (connecting to
// find out would open the device behind ser2net).
bool Listening(int port) {
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X 00000000:0000 0A", port);
    return ReadText("/proc/net/tcp").find(local) != std::string::npos;
}

}  // namespace

int Ser2netProcess::FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

Ser2netProcess::Ser2netProcess(const std::string& device, Mode mode, int port, Tuning tuning) : mode_(mode) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ser2net-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        error_ = "mkdtemp: " + std::string(std::strerror(errno));
        return;
    }
    dir_ = pattern;
    port_ = port ? port : FreePort();
    const std::string config = dir_ + "/ser2net.yaml";
    {
        std::ofstream out(config);
        const bool prompt = tuning == Tuning::kPrompt;
        out << "connection: &box\n"
            << "  accepter: " << (mode == Mode::kRfc2217 ? "telnet(rfc2217)," : "") << (prompt ? "tcp(nodelay)" : "tcp")
            << ",127.0.0.1," << port_ << "\n"
            << "  connector: serialdev," << device << ",9600o81,local\n";
        if (prompt) out << "  options:\n    chardelay: false\n    kickolduser: true\n";
    }
    std::vector<std::string> args = {"ser2net", "-n", "-u", "-c", config, "-P", dir_ + "/ser2net.pid"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string out = dir_ + "/output.txt";
    const pid_t parent = ::getpid();
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {  // only async-signal-safe calls until exec
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o >= 0) ::dup2(o, 1), ::dup2(o, 2);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid_ < 0) {
        error_ = "fork: " + std::string(std::strerror(errno));
        return;
    }
    running_ = true;
    switch (AwaitChildReady(pid_, [&] { return Listening(port_); })) {
        case ChildStart::kReady: break;
        case ChildStart::kEnded:
            running_ = false;
            error_ = "ser2net ended at start (is it installed?): " + ReadText(out);
            break;
        case ChildStart::kLate: error_ = "ser2net did not listen within 5 s: " + ReadText(out); break;
    }
}

Ser2netProcess::~Ser2netProcess() {
    Stop();
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

std::string Ser2netProcess::Url() const {
    return (mode_ == Mode::kRfc2217 ? "rfc2217://127.0.0.1:" : "socket://127.0.0.1:") + std::to_string(port_);
}

void Ser2netProcess::Stop() {
    if (!running_) return;
    running_ = false;
    EndChild(pid_);
}

}  // namespace dpx::test
