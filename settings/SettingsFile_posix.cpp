// POSIX file access of the settings files.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "settings/SettingsFileOs.h"

namespace dpx::settings_file {

namespace fs = std::filesystem;

ReadResult ReadSmallFile(const fs::path& name, char* buffer, std::size_t capacity) {
    ReadResult result;
    // O_NONBLOCK: a FIFO or device in place of the file must not hang the reader.
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        result.status = (errno == ENOENT || errno == ENOTDIR) ? ReadResult::kMissing
                                                              : ReadResult::kUnreadable;
        return result;
    }
    result.opened = true;
    result.status = ReadResult::kUnreadable;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        result.size = static_cast<int64_t>(st.st_size);
        if (st.st_size >= 0 && static_cast<uint64_t>(st.st_size) < capacity) {
            const auto size = static_cast<std::size_t>(st.st_size);
            std::size_t got = 0;
            while (ok && got < size) {
                const ssize_t n = ::read(fd, buffer + got, size - got);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) ok = false;  // an error, or the file shrank under us
                else got += static_cast<std::size_t>(n);
            }
        }
    }
    if (::close(fd) != 0) ok = false;
    if (ok) result.status = ReadResult::kOk;
    return result;
}

namespace {

using Clock = std::chrono::steady_clock;

// Writes `text` over the open file from its start in one write, then cuts the file to the
// text's length and flushes it to disk. The file is never truncated first: a writer killed
// at any moment leaves the old text or the new one, never an empty file, and a reader meanwhile
// never sees one. (When the new text is shorter, a kill between the write and the cut leaves
// the new text followed by the end of the old one, which the readers never reach.)
bool WriteWhole(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return ::ftruncate(fd, static_cast<off_t>(text.size())) == 0 && ::fsync(fd) == 0;
}

// Makes the rename itself durable; a failure here loses nothing, so it is ignored.
void SyncDirectoryOf(const fs::path& name) {
    const fs::path dir = name.has_parent_path() ? name.parent_path() : fs::path(".");
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

bool IsRegular(int fd, struct stat& st) { return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode); }

// Takes the writers' lock on the open file without ever blocking: tried again after 1, 2, 4,
// 8, then every 10 ms while another program holds it, until `deadline`. False with errno
// EWOULDBLOCK when the other program held it all that time, with another errno when the lock
// cannot be taken.
bool LockBefore(int fd, Clock::time_point deadline) {
    std::chrono::milliseconds pause{1};
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK || Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(10));
    }
}

// The program that holds the writers' lock on the open file, as /proc/locks tells:
// "name (process N)", or "process N" when its name cannot be read; empty when not listed.
std::string LockHolder(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {};
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 08:01:56789 0 EOF"; a waiting lock has "->" after "1:".
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        long pid = 0;
        char kind[16] = {};
        if (std::sscanf(line.c_str(), "%*s %15s %*s %*s %ld %x:%x:%llu", kind, &pid, &major, &minor,
                        &inode) != 5 ||
            std::strcmp(kind, "FLOCK") != 0 || makedev(major, minor) != st.st_dev || inode != st.st_ino)
            continue;
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        const std::string process = "process " + std::to_string(pid);
        return std::getline(comm, name) && !name.empty() ? name + " (" + process + ")" : process;
    }
    return {};
}

// Opens the temporary file for writing and locks it (see LockBefore). Never follows a link
// planted under that name (one in the way is removed), and makes sure the locked file is still
// the one of that name (a writer that held the lock before has renamed its file away).
// -1 when no regular file can be made there, or when another program held it until
// `deadline`: then `busy` is set and `holder` names that program.
int LockTemporary(const fs::path& temp, Clock::time_point deadline, bool& busy, std::string* holder) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = ::open(temp.c_str(),
                              O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                              0666);
        if (fd < 0) {
            if (errno == ELOOP && ::unlink(temp.c_str()) == 0) continue;
            if (errno == EINTR) continue;
            return -1;
        }
        struct stat held {};
        struct stat named {};
        const bool locked = LockBefore(fd, deadline);
        if (!locked && errno == EWOULDBLOCK) {
            busy = true;
            if (holder) *holder = LockHolder(fd);
        }
        if (locked && IsRegular(fd, held) && ::lstat(temp.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return fd;
        ::close(fd);
        if (!locked || !S_ISREG(held.st_mode)) return -1;
    }
    return -1;
}

// The fallback when no temporary file can be made beside the file: rewrite it in place,
// holding the writers' lock on the file itself so that two such writers take turns.
WriteStatus RewriteInPlace(const fs::path& target, std::string_view text, Clock::time_point deadline,
                           std::string* holder) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return WriteStatus::kCannotCreate;
    struct stat st {};
    WriteStatus status = WriteStatus::kCannotWrite;
    const bool regular = IsRegular(fd, st);
    if (regular && LockBefore(fd, deadline)) {
        if (WriteWhole(fd, text)) status = WriteStatus::kOk;
    } else if (regular && errno == EWOULDBLOCK) {
        status = WriteStatus::kBusy;
        if (holder) *holder = LockHolder(fd);
    }
    if (::close(fd) != 0 && status == WriteStatus::kOk) status = WriteStatus::kCannotWrite;
    return status;
}

}  // namespace

WriteStatus ReplaceRegularFile(const fs::path& target, const fs::path& temp, std::string_view text,
                               std::string* holder) {
    const Clock::time_point deadline = Clock::now() + kLockWait;
    bool busy = false;
    const int fd = LockTemporary(temp, deadline, busy, holder);
    if (busy) return WriteStatus::kBusy;
    if (fd < 0) return RewriteInPlace(target, text, deadline, holder);

    // The new file keeps the permissions of the one it replaces.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);

    // Renamed while still locked, so a writer waiting for the lock finds the name gone.
    bool ok = WriteWhole(fd, text) && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    if (::close(fd) != 0) ok = false;
    if (!ok) return WriteStatus::kCannotWrite;
    SyncDirectoryOf(target);
    return WriteStatus::kOk;
}

}  // namespace dpx::settings_file
