#include "tests/support/PosixFaults.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dpx::test {

const bool kPosixFaults = true;

bool MakeFifo(const std::filesystem::path& path) { return ::mkfifo(path.c_str(), 0600) == 0; }

bool MakeCharDevice(const std::filesystem::path& path) {
    return ::mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
}

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

bool Child::AwaitStop() {
    int status = 0;
    while (pid_ > 0 && ::waitpid(pid_, &status, WUNTRACED) < 0) {
        if (errno != EINTR) return false;
    }
    if (pid_ > 0 && !WIFSTOPPED(status)) pid_ = -1;  // it ended and has been waited for
    return pid_ > 0;
}

bool BecomeNobody() {
    if (!RunningAsRoot()) return true;
    const passwd* nobody = ::getpwnam("nobody");
    return nobody && ::setgroups(0, nullptr) == 0 && ::setgid(nobody->pw_gid) == 0 &&
           ::setuid(nobody->pw_uid) == 0;
}

bool GiveToNobody(const std::filesystem::path& path) {
    if (!RunningAsRoot()) return true;
    const passwd* nobody = ::getpwnam("nobody");
    return nobody && ::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid) == 0;
}

bool LockAndStop(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) return false;
    return ::raise(SIGSTOP) == 0;  // the lock goes with the process
}

}  // namespace dpx::test
