// A box of a service: the names it may have (UTF-8 letters and digits, '-', '_') and its
// folder's box.ini with the label and location the page shows.
#include <gtest/gtest.h>

#include <string>

#include "ctl/BoxFile.h"
#include "ctl/CtlRequest.h"

namespace dpx::cli {
namespace {

TEST(BoxFile, NamesAreLettersAndDigitsOfAnyScript) {
    struct Case {
        const char* name;
        bool valid;
    };
    const Case cases[] = {
        {"cam1", true}, {"Kamera-ü_2", true}, {"カメラ", true}, {"a", true},
        {"", false}, {"a b", false}, {"a/b", false}, {"..", false}, {"a%20", false}, {"a,b", false}, {"a=b", false},
        {"\xC3", false},          // cut short
        {"\xC0\xAF", false},      // an overlong '/'
        {"\xED\xA0\x80", false},  // a surrogate
        {"a\xC2\x85", false},     // a control character past ASCII
        {"\xC2\xA0", false},      // a no-break space
        {"abcdefghijklmnopqrstuvwxyz0123456", false},  // 33 characters
        {"äbcdefghijklmnopqrstuvwxyz012345", true},   // 32, one of two bytes
    };
    for (const Case& c : cases) EXPECT_EQ(ValidBoxName(c.name), c.valid) << c.name;
    // --box takes the same names.
    const auto same = [](const std::string&, const std::string&) { return false; };
    EXPECT_EQ(ParseBoxes({"Kamera-ü=/dev/ttyUSB0"}, "", same).front().name, "Kamera-ü");
    EXPECT_THROW(ParseBoxes({"a b=/dev/ttyUSB0"}, "", same), UsageError);
}

TEST(BoxFile, LabelAndLocationWithTheLinesNotTaken) {
    const BoxFile file = ParseBoxFile(
        "\xEF\xBB\xBF# the crane\r\n"
        "label = Kamera 3 – Kran\r\n"
        "\n"
        "  location=Bühne links  \n"
        "colour = red\n"
        "label\n"
        "location = \x01\n");
    EXPECT_EQ(file.label, "Kamera 3 – Kran");
    EXPECT_EQ(file.location, "Bühne links");
    ASSERT_EQ(file.problems.size(), 3u);
    EXPECT_EQ(file.problems[0], "line 5: only label = TEXT and location = TEXT are taken");
    EXPECT_EQ(file.problems[2], "line 7: the location is not UTF-8 text of at most 64 characters");
    EXPECT_TRUE(ParseBoxFile("label = " + std::string(64, 'x')).problems.empty());
    EXPECT_FALSE(ParseBoxFile("label = " + std::string(65, 'x')).problems.empty());
}

}  // namespace
}  // namespace dpx::cli
