// The adjust-file reader over arbitrary file contents: all-or-nothing, never writes.
#include <cstdint>
#include <cstring>

#include "settings/AdjustFile.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dpx;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::EnterScratchDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name = AdjustFileName(1);
    fuzz::WriteInput(name.c_str(), data, size);
    const int before = fuzz::sink.shown;
    int32_t v[4] = {-99, -99, -99, -99};
    const int result = ReadAdjustFile(name, &v[0], &v[1], &v[2], &v[3]);
    if (result == 0) {
        fuzz::Check(v[0] == -99 && v[1] == -99 && v[2] == -99 && v[3] == -99, "outputs untouched");
        fuzz::Check(fuzz::sink.shown == before + 1, "exactly one message on failure");
    } else {
        fuzz::Check(result == 1, "result is 0 or 1");
        fuzz::Check(fuzz::sink.shown == before, "no message on success");
        for (int32_t x : v) fuzz::Check(x >= -60 && x <= 60, "values come from the codec");
    }
    const std::string after = fuzz::ReadBack(name.c_str());
    fuzz::Check(after.size() == size && std::memcmp(after.data(), data, size) == 0,
                "adjust file unchanged");
    fuzz::Check(fuzz::fatal_exits == 0, "no fatal exit");
    return 0;
}
