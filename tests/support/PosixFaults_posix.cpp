#include "tests/support/PosixFaults.h"

#include <cerrno>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dpx::test {

const bool kPosixFaults = true;

bool MakeFifo(const std::filesystem::path& path) { return ::mkfifo(path.c_str(), 0600) == 0; }

bool RunningAsRoot() { return ::geteuid() == 0; }

namespace {
rlimit saved_limit{};
void (*saved_handler)(int) = SIG_DFL;
}  // namespace

FileSizeLimit::FileSizeLimit(long bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_limit);
    saved_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_limit;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_limit);
    std::signal(SIGXFSZ, saved_handler);
}

Child::Child(const std::function<int()>& body) {
    pid_ = ::fork();
    if (pid_ == 0) ::_exit(body());  // _exit: no gtest or static teardown in the child
}

Child::~Child() {
    if (pid_ > 0) Kill();
}

int Child::Wait() {
    if (pid_ <= 0) return -1;
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Child::Kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    Wait();
}

namespace {
const passwd* Nobody() { return ::getpwnam("nobody"); }
}  // namespace

int RunAsNobody(const std::function<int()>& body) {
    const passwd* nobody = Nobody();
    if (!nobody) return -1;
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    Child child([&] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) return 99;
        return body();
    });
    return child.Wait();
}

bool GiveToNobody(const std::filesystem::path& path) {
    const passwd* nobody = Nobody();
    return nobody && ::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid) == 0;
}

}  // namespace dpx::test
