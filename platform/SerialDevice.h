#pragma once
// What the system says about an open local serial device. Exclusive use as serial programs
// agree on it: the serial lock file (LCK..name, which Qt Serial Port writes), flock(LOCK_EX)
// on the open device, and the terminal's exclusive mode (TIOCEXCL), which refuses any
// further open but root's. POSIX only (SerialDevice_posix.cpp); the callers guard their calls.
#include <string>

namespace dpx::platform {

// Takes flock(LOCK_EX | LOCK_NB) on the open descriptor `fd` of the device `path` and sets
// TIOCEXCL. Empty on success, else why not (see BusyText).
std::string LockDevice(int fd, const std::string& path);

// "busy: held by another program", naming the holder only where the system says it for
// sure: a serial lock file whose process lives, or the kernel's table of flock locks.
std::string BusyText(const std::string& path);

// True when the line of the open descriptor `fd` has hung up (the device went away, or the
// other side of a pseudo-terminal closed): reads then return nothing, without an error.
bool HungUp(int fd);

}  // namespace dpx::platform
