#pragma once
// What the tests' child processes (dpx20sim, ser2net) share: POSIX only.
#include <sys/types.h>

#include <functional>
#include <string>

namespace dpx::test {

// The bytes of the file at `path`; empty when it cannot be read.
std::string ReadText(const std::string& path);

// How a child's start ended: ready, ended before it was ready, or not ready within 5 s.
enum class ChildStart { kReady, kEnded, kLate };
ChildStart AwaitChildReady(pid_t pid, const std::function<bool()>& ready);

// Ends child `pid` (SIGTERM, SIGKILL after 3 s) and waits for it.
void EndChild(pid_t pid);

}  // namespace dpx::test
