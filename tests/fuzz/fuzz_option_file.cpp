// The options-file reader over arbitrary file contents: once as "dpx20remote.ini" into the
// process-wide record, once as a memory file into a caller's record.
#include <cstdint>
#include <cstring>

#include "settings/OptionFile.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dpx;

namespace {

bool FieldsInDecodableRange(const SettingsRecord& r) {
    const int32_t* f = &r.sys_2D3D;
    for (size_t i = 0; i < sizeof r / sizeof(int32_t); ++i)
        if (f[i] < -60 || f[i] > 60) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::EnterScratchDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The options file itself, as a panel reads it: failures rewrite it from the record.
    OptionsFile options;
    options.connected = size % 2;
    fuzz::WriteInput(options_file_name, data, size);
    const int result = options.Read(options_file_name);
    fuzz::Check(result == 0 || result == 1, "result is 0 or 1");
    fuzz::Check(FieldsInDecodableRange(options.record), "fields come from the codec");
    if (options.connected) {
        const SettingsRecord initial;
        fuzz::Check(options.record.com_port_num == initial.com_port_num &&
                        options.record.sys_sync_on == initial.sys_sync_on,
                    "link options kept while connected");
    }

    // A memory file: never rewritten, and the panel's record is left alone.
    const SettingsRecord before = options.record;
    SettingsRecord into;
    fuzz::WriteInput("dpx20remote01.sav", data, size);
    const int memory_result = options.Read(MemoryFileName(1), into);
    fuzz::Check(memory_result == 0 || memory_result == 1, "memory result is 0 or 1");
    fuzz::Check(options.record == before, "the panel's record untouched by a memory read");
    const std::string after = fuzz::ReadBack("dpx20remote01.sav");
    fuzz::Check(after.size() == size && std::memcmp(after.data(), data, size) == 0,
                "memory file unchanged");
    fuzz::Check(fuzz::fatal_exits == 0, "no fatal exit in a writable directory");
    return 0;
}
