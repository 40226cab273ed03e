#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <map>
#include <string>

#include "settings/HexCodec.h"

namespace dpx {
namespace {

// The 137 texts the decoder knows, built from their description rather than from the code.
std::map<std::string, int32_t> Vocabulary() {
    std::map<std::string, int32_t> v;
    for (int d = 0; d <= 9; ++d) v[std::string(1, char('0' + d))] = d;
    for (int d = 0; d < 6; ++d) v[std::string(1, char('A' + d))] = 10 + d;
    char text[3];
    for (int b = 0x00; b <= 0x3C; ++b) {
        std::snprintf(text, sizeof text, "%02X", b);
        v[text] = b;
    }
    for (int b = 0xC4; b <= 0xFF; ++b) {
        std::snprintf(text, sizeof text, "%02X", b);
        v[text] = b - 256;
    }
    return v;
}

TEST(HexTextToValue, EveryOneAndTwoByteTextMatchesTheVocabulary) {
    const auto vocabulary = Vocabulary();
    ASSERT_EQ(vocabulary.size(), 137u);
    auto expected = [&](const std::string& t) {
        auto it = vocabulary.find(t);
        return it == vocabulary.end() ? 0 : it->second;
    };
    for (int a = 0; a < 256; ++a) {
        const std::string one(1, static_cast<char>(a));
        ASSERT_EQ(HexTextToValue(one), expected(one)) << "byte " << a;
        for (int b = 0; b < 256; ++b) {
            const std::string two{static_cast<char>(a), static_cast<char>(b)};
            ASSERT_EQ(HexTextToValue(two), expected(two)) << "bytes " << a << " " << b;
        }
    }
}

TEST(HexTextToValue, OtherLengthsAndLookalikesGiveZero) {
    EXPECT_EQ(HexTextToValue(""), 0);
    EXPECT_EQ(HexTextToValue("0Dh"), 0);
    EXPECT_EQ(HexTextToValue("00D"), 0);
    EXPECT_EQ(HexTextToValue(" 0D"), 0);
    EXPECT_EQ(HexTextToValue("0d"), 0);
    EXPECT_EQ(HexTextToValue("ff"), 0);
    EXPECT_EQ(HexTextToValue("NG"), 0);
    EXPECT_EQ(HexTextToValue(std::string_view("\0" "5", 2)), 0);
    EXPECT_EQ(HexTextToValue("3D"), 0);
    EXPECT_EQ(HexTextToValue("C3"), 0);
    EXPECT_EQ(HexTextToValue("80"), 0);
    EXPECT_EQ(HexTextToValue("C4"), -60);
    EXPECT_EQ(HexTextToValue("F"), 15);
}

TEST(ValueToHexText, TwoUpperCaseDigitsInsideMinus127To127AndNgOutside) {
    for (int64_t v = -300; v <= 300; ++v) {
        char text[3];
        std::snprintf(text, sizeof text, "%02X", static_cast<int>(v & 0xFF));
        const std::string expected = (v > 127 || v < -127) ? "NG" : text;
        ASSERT_EQ(ValueToHexText(static_cast<int32_t>(v)), expected) << v;
    }
    EXPECT_EQ(ValueToHexText(INT32_MIN), "NG");
    EXPECT_EQ(ValueToHexText(INT32_MAX), "NG");
    EXPECT_EQ(ValueToHexText(-128), "NG");
    EXPECT_EQ(ValueToHexText(-127), "81");
    EXPECT_EQ(ValueToHexText(13), "0D");
}

TEST(HexCodec, OnlyMinus60To60SurviveARoundTrip) {
    for (int32_t v = -127; v <= 127; ++v)
        EXPECT_EQ(HexTextToValue(ValueToHexText(v)), (v >= -60 && v <= 60) ? v : 0) << v;
}

}  // namespace
}  // namespace dpx
