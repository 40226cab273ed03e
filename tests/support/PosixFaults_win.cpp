#include "tests/support/PosixFaults.h"

namespace dpx::test {

const bool kPosixFaults = false;

bool MakeFifo(const std::filesystem::path&) { return false; }
bool MakeCharDevice(const std::filesystem::path&) { return false; }
bool RunningAsRoot() { return false; }
FileSizeLimit::FileSizeLimit(long) {}
FileSizeLimit::~FileSizeLimit() = default;
Child::Child(const std::function<int()>&) {}
Child::~Child() = default;
int Child::Wait() { return -1; }
void Child::Kill() {}
bool Child::AwaitStop() { return false; }
bool BecomeNobody() { return false; }
bool GiveToNobody(const std::filesystem::path&) { return false; }
bool LockAndStop(const std::filesystem::path&) { return false; }

}  // namespace dpx::test
