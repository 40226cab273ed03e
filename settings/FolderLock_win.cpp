// The folder lock on Windows: the lock file opened without write sharing, so a second opener
// for writing fails until the holder's handle is closed, which the system does when the
// holder ends.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "settings/FolderLock.h"

namespace dpx::settings_file {

namespace {

// The process id the holder wrote into the lock file; 0 when there is none.
int64_t ReadHolder(const std::filesystem::path& file) {
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    char text[24] = {};
    DWORD got = 0;
    const BOOL ok = ReadFile(h, text, sizeof text - 1, &got, nullptr);
    CloseHandle(h);
    return ok && got > 0 ? std::strtoll(text, nullptr, 10) : 0;
}

}  // namespace

bool FolderLock::Take(const std::filesystem::path& folder, int64_t* holder) {
    Release();
    const std::filesystem::path file = folder / kFolderLockName;
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_SHARING_VIOLATION) return true;  // nothing to lock
        if (holder) *holder = ReadHolder(file);
        return false;
    }
    const std::string pid = std::to_string(GetCurrentProcessId()) + "\r\n";
    DWORD written = 0;
    if (SetEndOfFile(h)) WriteFile(h, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return true;
}

void FolderLock::Release() {
    if (handle_ == -1) return;
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

}  // namespace dpx::settings_file
