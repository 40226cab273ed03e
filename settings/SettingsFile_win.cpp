// Windows file access of the settings files. Paths go to the wide-character calls as they
// are, so folder names outside the ANSI code page work.
#include <windows.h>

#include <algorithm>
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

// Creates the temporary file exclusively, so that two running copies never share it. One
// left by a killed writer is deleted first; one that another copy is writing cannot be
// deleted until that copy has renamed it away.
HANDLE CreateTemporary(const fs::path& temp) {
    for (int attempt = 0; attempt <= 25; ++attempt) {
        HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
        if (!DeleteFileW(temp.c_str())) Sleep(20);
    }
    return INVALID_HANDLE_VALUE;
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

// The fallback when no temporary file can be made beside the file: rewrite it in place.
WriteStatus RewriteInPlace(const fs::path& target, std::string_view text) {
    HANDLE file = INVALID_HANDLE_VALUE;
    Retried([&] {
        file = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        return file != INVALID_HANDLE_VALUE;
    });
    if (file == INVALID_HANDLE_VALUE) return WriteStatus::kCannotCreate;
    bool ok = WriteAll(file, text) && FlushFileBuffers(file);
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

WriteStatus ReplaceRegularFile(const fs::path& target, const fs::path& temp,
                               std::string_view text) {
    HANDLE file = CreateTemporary(temp);
    if (file == INVALID_HANDLE_VALUE) return RewriteInPlace(target, text);
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
