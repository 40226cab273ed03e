#pragma once
// Faults only a POSIX system can make: FIFOs, file-size limits, child processes killed at any
// moment, another user. On Windows the functions do nothing and kPosixFaults is false; the
// tests that need them skip there with their reason.
#include <filesystem>
#include <functional>

namespace dpx::test {

extern const bool kPosixFaults;

bool MakeFifo(const std::filesystem::path& path);
// A character device node with the null device's numbers (root only; false where the system
// does not let the tests make one).
bool MakeCharDevice(const std::filesystem::path& path);
bool RunningAsRoot();

// Lowers the process's file-size limit for its lifetime, so that a write beyond `bytes`
// fails (the signal that would end the process is ignored meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
};

// A child process running `body`; its exit code is what `body` returns.
class Child {
public:
    explicit Child(const std::function<int()>& body);
    ~Child();  // kills the child if it still runs
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // Waits for the child to end: its exit code, or -1 when it was killed or not started.
    int Wait();
    // Ends the child at once (SIGKILL) and waits for it.
    void Kill();
    // Waits until the child has stopped itself (true), or has ended (false).
    bool AwaitStop();
    int Id() const { return pid_; }

private:
    int pid_ = -1;
};

// When the tests run as root, for whom file permissions do not hold: makes the calling process
// (a Child) user "nobody", and makes that user the owner of `path`. Both do nothing otherwise;
// false when they fail.
bool BecomeNobody();
bool GiveToNobody(const std::filesystem::path& path);

// Takes the settings writers' lock on `path` (made when missing) and stops the calling process
// (a Child) while holding it, as a program stopped in the middle of a save. Returns when the
// process is continued; false when the lock could not be taken.
bool LockAndStop(const std::filesystem::path& path);

}  // namespace dpx::test
