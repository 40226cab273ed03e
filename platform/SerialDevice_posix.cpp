#include "platform/SerialDevice.h"

#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace dpx::platform {
namespace {

// The first line of a small text file, without its line end; empty if it cannot be read.
std::string FirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

bool Alive(long pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

// The process named by a serial lock file of `path` (Qt Serial Port and the UUCP
// convention: LCK.. and the name below /dev with '/' made '_'), if it still runs.
long LockFileHolder(const std::string& path) {
    std::string name = path.rfind("/dev/", 0) == 0 ? path.substr(5) : path;
    for (char& c : name)
        if (c == '/') c = '_';
    for (const char* dir : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
                            "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
        const std::string line = FirstLine(std::string(dir) + "/LCK.." + name);
        char* end = nullptr;
        const long pid = std::strtol(line.c_str(), &end, 10);
        if (end != line.c_str() && Alive(pid)) return pid;
    }
    return 0;
}

// The process holding a flock lock on `path`, from the kernel's lock table (Linux).
// Lines read "1: FLOCK  ADVISORY  WRITE 1234 00:19:3 0 EOF"; waiters carry "->".
long FlockHolder(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string id, kind, mode, access, device;
        long pid = 0;
        if (!(fields >> id >> kind) || kind != "FLOCK") continue;  // also skips waiters
        if (!(fields >> mode >> access >> pid >> device)) continue;
        unsigned major_id = 0, minor_id = 0;
        unsigned long inode = 0;
        if (std::sscanf(device.c_str(), "%x:%x:%lu", &major_id, &minor_id, &inode) != 3) continue;
        if (major_id == major(st.st_dev) && minor_id == minor(st.st_dev) && inode == st.st_ino && Alive(pid))
            return pid;
    }
    return 0;
}

constexpr char kBusy[] = "busy: held by another program";

// " (process 1234 name)", or empty when no holder is known.
std::string Holder(long pid) {
    if (!pid) return {};
    const std::string name = FirstLine("/proc/" + std::to_string(pid) + "/comm");
    return " (process " + std::to_string(pid) + (name.empty() ? "" : " " + name) + ")";
}

}  // namespace

std::string BusyText(const std::string& path) {
    const long pid = LockFileHolder(path);
    return kBusy + Holder(pid ? pid : FlockHolder(path));
}

std::string LockDevice(int fd, const std::string& path) {
    // Our own open has just written the lock file, so only the flock table can name the holder.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return kBusy + Holder(FlockHolder(path));
    ::ioctl(fd, TIOCEXCL);  // a terminal that cannot take it is still ours by the lock
    return {};
}

bool HungUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
}

}  // namespace dpx::platform
