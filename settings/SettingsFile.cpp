#include "settings/SettingsFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/MessageSink.h"
#include "settings/SettingsFileOs.h"

namespace dpx::settings_file {

namespace fs = std::filesystem;

fs::path FullPath(const fs::path& name) {
    std::error_code ec;
    fs::path path = fs::canonical(name, ec);
    if (ec) path = fs::absolute(name, ec);
    return ec ? name : path;
}

std::string ShownName(const fs::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

namespace {

// What stands at a path that is neither a regular file nor a folder, in words; nullptr for
// those two (and for nothing at all).
const char* SpecialKind(const fs::file_status& status) {
    switch (status.type()) {
        case fs::file_type::regular:
        case fs::file_type::directory:
        case fs::file_type::not_found:
        case fs::file_type::none: return nullptr;
        case fs::file_type::symlink: return "a symbolic link";
        case fs::file_type::character: return "a character device";
        case fs::file_type::block: return "a block device";
        case fs::file_type::fifo: return "a FIFO";
        case fs::file_type::socket: return "a socket";
        default: return "not a regular file";
    }
}

}  // namespace

std::string UnreadableReason(const fs::path& name) {
    std::error_code ec;
    const fs::file_status status = fs::status(name, ec);
    if (ec) return ec.message();
    if (fs::is_directory(status)) return "it is a folder";
    if (const char* kind = SpecialKind(status)) return std::string("it is ") + kind;
    errno = 0;
    if (std::ifstream(name, std::ios::binary)) return "it could not be read";
    return errno != 0 ? std::strerror(errno) : "it could not be opened";
}

WriteStatus ReplaceFile(const fs::path& name, std::string_view text, std::string* holder) {
    // The file a symbolic link points to is replaced, not the link (a dangling link is
    // replaced itself, as a missing file would be created).
    std::error_code ec;
    fs::path target = fs::canonical(name, ec);
    if (ec) target = name;
    const fs::file_status status = fs::status(target, ec);
    if (fs::exists(status) && !fs::is_regular_file(status)) return WriteStatus::kCannotWrite;
    fs::path temp = target;
    temp += ".tmp";
    return ReplaceRegularFile(target, temp, text, holder);
}

bool WriteSettingsFile(const fs::path& name, const std::string& text) {
    std::string holder;
    errno = 0;
    const WriteStatus status = ReplaceFile(name, text, &holder);
    if (status == WriteStatus::kOk) return true;
    // The notice's detail is the system's reason, as far as it told one.
    std::string detail = errno != 0 ? std::strerror(errno) : std::string();
    std::error_code ec;
    if (const char* kind = SpecialKind(fs::status(name, ec)); kind || fs::is_directory(name, ec))
        detail = std::string("not a regular file: ") + (kind ? kind : "a folder");
    if (status == WriteStatus::kCannotCreate) {
        ShowMessage(Format("Cannot create the %s file!", ShownName(name).c_str()), detail);
    } else {
        if (status == WriteStatus::kBusy)
            detail = holder.empty() ? "Another program is saving the same file."
                                    : "Another program is saving the same file: " + holder + ".";
        ShowMessage(Format("Cannot write to the %s file!\n\n\n", ShownName(name).c_str()) + text, detail);
    }
    FatalExit(1);
    return false;
}


KeptFile KeepDamagedFile(const fs::path& name) {
    KeptFile result;
    std::error_code ec;
    if (const char* kind = SpecialKind(fs::symlink_status(name, ec))) {
        result.status = KeptFile::kLeft;
        result.why = kind;
        return result;
    }
    fs::path kept = name;
    kept += kDamagedSuffix;
    fs::rename(name, kept, ec);
    // An older copy of another kind (a file where a folder goes) gives way first; a folder
    // that still holds something is never removed.
    if (std::error_code gone; ec && fs::remove(kept, gone)) fs::rename(name, kept, ec);
    if (ec) {
        result.why = ec.message();
        return result;
    }
    result.status = KeptFile::kKept;
    result.kept = kept;
    return result;
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
