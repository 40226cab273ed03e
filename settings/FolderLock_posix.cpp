// The folder lock on POSIX systems: flock() on the lock file, or on the folder itself when no
// lock file can be opened there (a read-only folder).
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

#include "settings/FolderLock.h"

namespace dpx::settings_file {

namespace {

// The process id the holder wrote into the lock file; 0 when there is none.
int64_t ReadHolder(int fd) {
    char text[24] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    return std::strtoll(text, nullptr, 10);
}

}  // namespace

bool FolderLock::Take(const std::filesystem::path& folder, int64_t* holder) {
    Release();
    const std::filesystem::path file = folder / kFolderLockName;
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
    if (fd < 0) fd = ::open(file.c_str(), O_RDONLY | kFlags);  // another user's lock file
    if (fd < 0) fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        if (held && holder) *holder = ReadHolder(fd);
        ::close(fd);
        return !held;
    }
    // A lock file that cannot be written (or the folder itself) still locks; a second panel
    // only cannot name this one.
    const std::string pid = std::to_string(::getpid()) + "\n";
    [[maybe_unused]] const bool named = ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) > 0;
    handle_ = fd;
    return true;
}

void FolderLock::Release() {
    if (handle_ < 0) return;
    ::close(static_cast<int>(handle_));
    handle_ = -1;
}

}  // namespace dpx::settings_file
