#pragma once
// One running panel per settings folder. Two panels sharing a folder would each rewrite the
// options file from their own record and undo each other's changes, so the panel holds a lock
// on its folder for as long as it runs. The system releases the lock when the process ends,
// however it ends, so a crashed panel never leaves the folder locked.
#include <cstdint>
#include <filesystem>

namespace dpx::settings_file {

// The lock file in the folder. It holds the process id of the panel that has the folder and is
// left in place when the panel ends (removing it could let two panels lock two different files).
inline constexpr char kFolderLockName[] = "dpx20remote.lock";

class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock() { Release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock of `folder` until Release() or the end of this object. False when another
    // process (or another FolderLock of this one) holds it; `holder` is then its process id, or
    // 0 when that is not known. True also when the folder offers nothing to lock: the panel then
    // runs unguarded, as it always did.
    bool Take(const std::filesystem::path& folder, int64_t* holder);
    void Release();

private:
    std::intptr_t handle_ = -1;  // file descriptor, or Windows handle
};

}  // namespace dpx::settings_file
