// Windows file access of the settings files. Paths go to the wide-character calls as they
// are, so folder names outside the ANSI code page work.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "settings/SettingsFileOs.h"

namespace dpx::settings_file {

namespace fs = std::filesystem;

namespace {

// An indexer or a virus scanner may hold a file open for a moment; such a failure is tried
// again every 20 ms for about half a second.
template <typename Step>
bool Retried(Step step) {
    for (int attempt = 0;; ++attempt) {
        if (step()) return true;
        const DWORD error = GetLastError();
        const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                          error == ERROR_LOCK_VIOLATION;
        if (!busy || attempt == 25) return false;
        Sleep(20);
    }
}

bool WriteAll(HANDLE file, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, text.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

using Clock = std::chrono::steady_clock;

// Creates the temporary file exclusively, so that two running copies never share it. One
// left by a killed writer is deleted first; one that another copy has open (writing it, or
// deleting it after a failure) cannot be, and is waited for until `deadline`: then `busy`.
// INVALID_HANDLE_VALUE without `busy` when no file can be made there.
HANDLE CreateTemporary(const fs::path& temp, Clock::time_point deadline, bool& busy) {
    for (;;) {
        HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD error = GetLastError();
        bool held;
        if (error == ERROR_FILE_EXISTS) {
            if (DeleteFileW(temp.c_str())) continue;
            held = GetLastError() == ERROR_SHARING_VIOLATION;
        } else {
            // Refused although the name is there: a file being deleted; else the folder
            // refuses new files.
            held = error == ERROR_ACCESS_DENIED && (GetFileAttributesW(temp.c_str()) != INVALID_FILE_ATTRIBUTES ||
                                                    GetLastError() != ERROR_FILE_NOT_FOUND);
        }
        if (!held) return INVALID_HANDLE_VALUE;
        if (Clock::now() >= deadline) {
            busy = true;
            return INVALID_HANDLE_VALUE;
        }
        Sleep(10);
    }
}

// Renames the open temporary file over `target` through its own handle, which no other
// program can open meanwhile.
bool RenameOver(HANDLE file, const fs::path& target) {
    const std::wstring name = target.wstring();
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, name.c_str(), info->FileNameLength);
    return Retried([&] {
        return SetFileInformationByHandle(file, FileRenameInfo, info,
                                          static_cast<DWORD>(buffer.size())) != 0;
    });
}

// The fallback when no temporary file can be made beside the file: rewrite it in place, the
// whole text over the old from its start, then cut to length and flushed, so that it is never
// empty. Opened for writing by one program at a time, others only reading meanwhile: another
// writer is waited for until `deadline`.
WriteStatus RewriteInPlace(const fs::path& target, std::string_view text, Clock::time_point deadline) {
    HANDLE file;
    for (;;) {
        file = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) break;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return WriteStatus::kCannotCreate;
        if (Clock::now() >= deadline) return WriteStatus::kBusy;
        Sleep(10);
    }
    bool ok = WriteAll(file, text) && SetEndOfFile(file) && FlushFileBuffers(file);
    if (!CloseHandle(file)) ok = false;
    return ok ? WriteStatus::kOk : WriteStatus::kCannotWrite;
}

}  // namespace

ReadResult ReadSmallFile(const fs::path& name, char* buffer, std::size_t capacity) {
    ReadResult result;
    HANDLE file = CreateFileW(name.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        result.status = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                            ? ReadResult::kMissing
                            : ReadResult::kUnreadable;
        return result;
    }
    result.opened = true;
    result.status = ReadResult::kUnreadable;
    LARGE_INTEGER size{};
    bool ok = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size);
    if (ok) {
        result.size = size.QuadPart;
        if (size.QuadPart >= 0 && static_cast<uint64_t>(size.QuadPart) < capacity) {
            const auto want = static_cast<DWORD>(size.QuadPart);
            DWORD got = 0;
            while (ok && got < want) {
                DWORD n = 0;
                ok = ReadFile(file, buffer + got, want - got, &n, nullptr) && n > 0;
                got += n;
            }
        }
    }
    if (!CloseHandle(file)) ok = false;
    if (ok) result.status = ReadResult::kOk;
    return result;
}

WriteStatus ReplaceRegularFile(const fs::path& target, const fs::path& temp, std::string_view text,
                               std::string*) {
    const Clock::time_point deadline = Clock::now() + kLockWait;
    bool busy = false;
    HANDLE file = CreateTemporary(temp, deadline, busy);
    if (busy) return WriteStatus::kBusy;
    if (file == INVALID_HANDLE_VALUE) return RewriteInPlace(target, text, deadline);
    // Flushed before the rename, so that the name never points at text not yet on disk.
    const bool ok = WriteAll(file, text) && FlushFileBuffers(file) && RenameOver(file, target);
    if (!ok) {
        FILE_DISPOSITION_INFO remove{TRUE};
        SetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof remove);
    }
    CloseHandle(file);
    return ok ? WriteStatus::kOk : WriteStatus::kCannotWrite;
}

}  // namespace dpx::settings_file
