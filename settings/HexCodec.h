#pragma once
// Two-hex-digit value text of the settings files.
#include <cstdint>
#include <string>
#include <string_view>

namespace dpx {

// Exactly two characters: "00".."7F" for 0..127, two's complement "81".."FF" for -127..-1,
// "NG" for anything else.
std::string ValueToHexText(int32_t value);
// "0".."9", "A".."F" give 0..15; "00".."3C" give 0..60; "FF".."C4" give -1..-60; any other
// text gives 0.
int32_t HexTextToValue(std::string_view text);

}  // namespace dpx
