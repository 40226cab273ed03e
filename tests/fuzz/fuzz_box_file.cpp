// A service box's box.ini and the rule for a box's name: whatever the bytes, the label and
// location taken are UTF-8 text without control characters, within the limit.
#include <cstdint>
#include <string>

#include "ctl/BoxFile.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dpx;
using namespace dpx::cli;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const BoxFile file = ParseBoxFile(text);
    for (const std::string* taken : {&file.label, &file.location})
        fuzz::Check(PlainText(*taken, kBoxTextLimit), "a label or location taken is plain UTF-8 within the limit");
    // A valid name is plain text too, and never holds what a path or --box gives a meaning.
    if (ValidBoxName(text)) {
        fuzz::Check(PlainText(text, 32), "a name is plain UTF-8 text");
        fuzz::Check(text.find_first_of("/\\%?#=, .") == std::string::npos, "a name holds no separator");
    }
    return 0;
}
