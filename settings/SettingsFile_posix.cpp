// POSIX file access of the settings files.
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

bool WriteAll(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Truncates the open file and writes `text` to it, flushed to disk.
bool Rewrite(int fd, std::string_view text) {
    return ::ftruncate(fd, 0) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
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

// Opens the temporary file for writing and locks it, waiting for another writer that holds
// it. Never follows a link planted under that name (one in the way is removed), and makes
// sure the locked file is still the one of that name (a writer that held the lock before
// has renamed its file away). -1 when no regular file can be made there.
int LockTemporary(const fs::path& temp) {
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
        int locked;
        while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked == 0 && IsRegular(fd, held) && ::lstat(temp.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return fd;
        ::close(fd);
        if (locked != 0 || !S_ISREG(held.st_mode)) return -1;
    }
    return -1;
}

// The fallback when no temporary file can be made beside the file: rewrite it in place.
WriteStatus RewriteInPlace(const fs::path& target, std::string_view text) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return WriteStatus::kCannotCreate;
    struct stat st {};
    bool ok = IsRegular(fd, st) && Rewrite(fd, text);
    if (::close(fd) != 0) ok = false;
    return ok ? WriteStatus::kOk : WriteStatus::kCannotWrite;
}

}  // namespace

WriteStatus ReplaceRegularFile(const fs::path& target, const fs::path& temp,
                               std::string_view text) {
    const int fd = LockTemporary(temp);
    if (fd < 0) return RewriteInPlace(target, text);

    // The new file keeps the permissions of the one it replaces.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);

    // Renamed while still locked, so a writer waiting for the lock finds the name gone.
    bool ok = Rewrite(fd, text) && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    if (::close(fd) != 0) ok = false;
    if (!ok) return WriteStatus::kCannotWrite;
    SyncDirectoryOf(target);
    return WriteStatus::kOk;
}

}  // namespace dpx::settings_file
