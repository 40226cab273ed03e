#include "settings/HexCodec.h"

namespace dpx {
namespace {

// Upper-case hexadecimal digit value, or -1 (lower case is not a digit of these files).
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string ValueToHexText(int32_t value) {
    if (value > 127 || value < -127) return "NG";
    const int byte = value < 0 ? value + 256 : value;
    static const char digits[] = "0123456789ABCDEF";
    return {digits[byte >> 4], digits[byte & 0x0F]};
}

int32_t HexTextToValue(std::string_view text) {
    if (text.size() == 1) {
        const int d = HexDigit(text[0]);
        return d < 0 ? 0 : d;
    }
    if (text.size() != 2) return 0;
    const int hi = HexDigit(text[0]);
    const int lo = HexDigit(text[1]);
    if (hi < 0 || lo < 0) return 0;
    const int byte = hi * 16 + lo;
    // Only -60..+60 are recognised; the bytes in between (61..127, -128..-61) read as 0.
    if (byte <= 0x3C) return byte;
    if (byte >= 0xC4) return byte - 256;
    return 0;
}

}  // namespace dpx
