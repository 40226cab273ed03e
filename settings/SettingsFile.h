#pragma once
// Whole-file helpers shared by the options-file and adjust-file readers and writers:
// printf-style message texts, the full path of a file, a bounded whole-file read, a
// replace-by-rename write, and the "=" position walk of the readers.
// Paths stay std::filesystem::path (wide on Windows) from the system to the open call; they
// become text only for messages, as UTF-8.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/Format.h"

namespace dpx::settings_file {

// Absolute path of `name` (symbolic links resolved where possible); `name` itself if even
// that cannot be made.
std::filesystem::path FullPath(const std::filesystem::path& name);

// `path` as UTF-8 text for messages (its bytes as they are on POSIX systems).
std::string ShownName(const std::filesystem::path& path);

// Result of reading a settings file of at most `capacity - 1` bytes.
struct ReadResult {
    enum Status {
        kOk,         // `size` is the file's length; the bytes were read when size < capacity
        kMissing,    // no file of that name
        kUnreadable  // it exists, but could not be opened, measured or read (or is no file)
    } status = kMissing;
    bool opened = false;   // the open itself succeeded
    int64_t size = 0;
};

// Opens `name`, learns its length and, when the length is below `capacity`, reads it whole
// into `buffer` (`capacity` bytes, which the caller zero-filled). Never blocks on a FIFO and
// never reads past `capacity - 1` bytes.
ReadResult ReadSmallFile(const std::filesystem::path& name, char* buffer, std::size_t capacity);

// Why `name`, which exists, cannot be read as a settings file, in words: "it is a folder", "it
// is a FIFO", ..., or the system's reason.
std::string UnreadableReason(const std::filesystem::path& name);

// Replaces `name` with `text`. Symbolic links are followed: a link stays a link and the file
// it points to is replaced. A name that is not a regular file (device, FIFO, directory,
// socket) is never touched: kCannotWrite. Otherwise the text goes to the one temporary file
// "<file>.tmp" beside the file, is flushed to disk and renamed over the old one, so the old
// file stays whole until the new one is; a writer killed meanwhile leaves only that name,
// which the next save reuses. Writers take turns on the temporary file, so two programs
// saving at once never mix their texts. When the temporary file cannot be made (a read-only
// folder) the existing file is rewritten in place, the whole text written over the old from
// its start and only then cut to length, so that it is never empty: kCannotCreate when it
// cannot be opened for writing either, kCannotWrite when the rewrite fails.
// A writer waits at most kLockWait for its turn; when another program holds the file that
// long the old file is left as it was: kBusy, and `holder` (when given) names that program
// where the system tells ("dpx20ctl (process 1234)"), else is left empty.
enum class WriteStatus { kOk, kCannotCreate, kCannotWrite, kBusy };
inline constexpr std::chrono::milliseconds kLockWait{2000};
WriteStatus ReplaceFile(const std::filesystem::path& name, std::string_view text,
                        std::string* holder = nullptr);

// ReplaceFile with the writers' failure handling: "Cannot create the %s file!" or
// "Cannot write to the %s file!\n\n\n" followed by the text (with, when another program held
// the file, a detail saying so), then FatalExit(1). Returns true when the file was written.
bool WriteSettingsFile(const std::filesystem::path& name, const std::string& text);

// What a damaged settings file is renamed to before it is rewritten: "<file>.damaged".
inline constexpr char kDamagedSuffix[] = ".damaged";
// Renames `name` to `name` + kDamagedSuffix, replacing an older one, so that rewriting `name`
// loses nothing. Only what stands at `name` itself is renamed, and only a regular file or a
// folder: a symbolic link (whatever it points to), a device, a FIFO or a socket is left as it
// is, since moving it would move what a save must never replace (or leave a dangling link).
struct KeptFile {
    enum Status {
        kKept,    // renamed to `kept`
        kLeft,    // no regular file: left as it is; `why` says what it is ("a symbolic link")
        kFailed   // the rename failed; `why` is the system's reason
    } status = kFailed;
    std::filesystem::path kept;
    std::string why;
};
KeptFile KeepDamagedFile(const std::filesystem::path& name);

// Walks the "=" characters of a settings text by position. The text ends at its first zero
// byte; `size` is the file's byte length, which the limits are measured against.
class KeyWalk {
public:
    KeyWalk(const char* buffer, std::size_t capacity, int64_t size);
    // Finds the next "=" at or after the current position (or the end of the text) as p.
    // Returns false when the file is too short to hold a value there (size < p + 4);
    // otherwise sets `value` to the up to `chars` characters at p + 2 that lie inside the
    // text and moves the current position to p + 2.
    bool Next(int chars, std::string& value);
    // After the last key: false when size < p + 14 ("cannot get"); otherwise `found` tells
    // whether the five characters at p + 9 .. p + 13 are "-----".
    bool EndLine(bool& found) const;

private:
    char At(std::size_t i) const { return i < text_length_ ? buffer_[i] : '\0'; }
    const char* buffer_;
    std::size_t text_length_;
    int64_t size_;
    std::size_t pos_ = 0;
    std::size_t p_ = 0;
};

}  // namespace dpx::settings_file
