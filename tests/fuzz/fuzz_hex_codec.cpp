// The two-hex-digit codec: the decoder over any text, the encoder over any 32-bit value.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "settings/HexCodec.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dpx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const int32_t value = HexTextToValue(text);
    fuzz::Check(value >= -60 && value <= 60, "decoded value in -60..60");
    if (size != 1 && size != 2) fuzz::Check(value == 0, "only one or two characters decode");
    if (size == 1) fuzz::Check(value >= 0 && value <= 15, "one character is a digit");
    if (size == 2 && value != 0) fuzz::Check(ValueToHexText(value) == text, "decoding inverts encoding");

    if (size >= 4) {
        int32_t v;
        std::memcpy(&v, data, sizeof v);
        const std::string hex = ValueToHexText(v);
        fuzz::Check(hex.size() == 2, "always two characters");
        if (v < -127 || v > 127) fuzz::Check(hex == "NG", "NG outside -127..127");
        fuzz::Check(HexTextToValue(hex) == ((v >= -60 && v <= 60) ? v : 0), "round trip");
    }
    return 0;
}
