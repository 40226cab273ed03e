#include "settings/SettingsFile.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/MessageSink.h"

#if defined(_WIN32)
#include <fstream>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dpx::settings_file {

std::string FullPath(const std::string& name) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::canonical(name, ec);
    if (ec) path = std::filesystem::absolute(name, ec);
    return ec ? name : path.string();
}

#if defined(_WIN32)

ReadResult ReadSmallFile(const std::string& name, char* buffer, std::size_t capacity) {
    ReadResult result;
    std::error_code ec;
    const auto status = std::filesystem::status(name, ec);
    if (!std::filesystem::exists(status)) {
        result.status = ReadResult::kMissing;
        return result;
    }
    result.status = ReadResult::kUnreadable;
    std::ifstream in(name, std::ios::binary);
    if (!in) return result;
    result.opened = true;
    if (!std::filesystem::is_regular_file(status)) return result;
    const auto size = std::filesystem::file_size(name, ec);
    if (ec) return result;
    result.size = static_cast<int64_t>(size);
    if (size < capacity) {
        in.read(buffer, static_cast<std::streamsize>(size));
        if (static_cast<std::uintmax_t>(in.gcount()) != size) return result;
    }
    result.status = ReadResult::kOk;
    return result;
}

WriteStatus ReplaceFile(const std::string& name, std::string_view text) {
    static unsigned counter = 0;
    const std::string temp = name + ".tmp" + std::to_string(counter++);
    std::error_code ec;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return WriteStatus::kCannotCreate;
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        out.close();
        if (!out) {
            std::filesystem::remove(temp, ec);
            return WriteStatus::kCannotWrite;
        }
    }
    std::filesystem::rename(temp, name, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        return WriteStatus::kCannotWrite;
    }
    return WriteStatus::kOk;
}

#else

ReadResult ReadSmallFile(const std::string& name, char* buffer, std::size_t capacity) {
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

// Makes the rename itself durable; a failure here loses nothing, so it is ignored.
void SyncDirectoryOf(const std::string& name) {
    const auto slash = name.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

WriteStatus ReplaceFile(const std::string& name, std::string_view text) {
    static unsigned counter = 0;
    std::string temp;
    int fd = -1;
    // A unique name beside the target, so that the rename stays within one file system.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = name + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return WriteStatus::kCannotCreate;
    }
    if (fd < 0) return WriteStatus::kCannotCreate;

    // The new file keeps the permissions of the one it replaces.
    struct stat old {};
    if (::stat(name.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);

    bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok) ok = ::rename(temp.c_str(), name.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return WriteStatus::kCannotWrite;
    }
    SyncDirectoryOf(name);
    return WriteStatus::kOk;
}

#endif

bool WriteSettingsFile(const std::string& name, const std::string& text) {
    switch (ReplaceFile(name, text)) {
        case WriteStatus::kOk:
            return true;
        case WriteStatus::kCannotCreate:
            ShowMessage(Format("Cannot create the %s file!", name.c_str()));
            break;
        case WriteStatus::kCannotWrite:
            ShowMessage(Format("Cannot write to the %s file!\n\n\n", name.c_str()) + text);
            break;
    }
    FatalExit(1);
    return false;
}

KeyWalk::KeyWalk(const char* buffer, std::size_t capacity, int64_t size)
    : buffer_(buffer), text_length_(strnlen(buffer, capacity)), size_(size) {}

bool KeyWalk::Next(int chars, std::string& value) {
    std::size_t p = pos_;
    while (p < text_length_ && buffer_[p] != '=') ++p;
    if (size_ < static_cast<int64_t>(p) + 4) return false;
    value.clear();
    for (int i = 0; i < chars && p + 2 + i < text_length_; ++i) value.push_back(buffer_[p + 2 + i]);
    p_ = p;
    pos_ = p + 2;
    return true;
}

bool KeyWalk::EndLine(bool& found) const {
    if (size_ < static_cast<int64_t>(p_) + 14) return false;
    found = true;
    for (std::size_t i = 9; i <= 13; ++i) found = found && At(p_ + i) == '-';
    return true;
}

}  // namespace dpx::settings_file
