#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "settings/AdjustFile.h"
#include "tests/unit/settings_fixture.h"

namespace dpx {
namespace {

namespace fs = std::filesystem;

const std::string kSlotOneFile =
    "-----< DPX20 Remote Adjust Data >------------------\n"
    "\n//this file version\n"
    "adj_file_version   = 01h\n"
    "\n//for Adjust 2D3D UI control\n"
    "adj_mode           = 4\n"
    "adj_parallax       = 0Dh\n"
    "adj_intensity      = 17h\n"
    "adj_sub.intensity  = 28h\n"
    "\n-------------------======= End of Adj data =======\n";

// The smallest text that reads: five "=" with their values and the dashes after the last,
// preceded by a filler line so that the file is exactly `size` bytes.
std::string CompactFile(std::size_t size, const std::string& version = "01") {
    const std::string body = "= " + version + "h\n= 4\n= 0Dh\n= 17h\n= 28h\n\n---------";
    EXPECT_LE(body.size() + 1, size);
    return std::string(size - body.size() - 1, ' ') + "\n" + body;
}

class AdjustFileTest : public test::SettingsDirTest {
protected:
    // Reads `name`; the outputs start as sentinels so that "untouched" can be seen.
    int Read(const std::string& name) {
        mode = parallax = intensity = sub = -99;
        return ReadAdjustFile(name, &mode, &parallax, &intensity, &sub);
    }
    bool Untouched() const { return mode == -99 && parallax == -99 && intensity == -99 && sub == -99; }
    int32_t mode = 0, parallax = 0, intensity = 0, sub = 0;
};

TEST_F(AdjustFileTest, SaveAndLoadSlotOne) {
    WriteAdjustFile(AdjustFileName(1), 4, 13, 23, 40);
    EXPECT_EQ(Slurp("dpx20remote01.adj"), kSlotOneFile);
    EXPECT_EQ(kSlotOneFile.size(), 278u);
    EXPECT_EQ(Read("dpx20remote01.adj"), 1);
    EXPECT_EQ((std::vector<int32_t>{mode, parallax, intensity, sub}), (std::vector<int32_t>{4, 13, 23, 40}));
    EXPECT_EQ(AdjustFileName(10), "dpx20remote10.adj");
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(AdjustFileTest, EveryValueKeepsTheSizeAndOnlyTheCodecRangeSurvives) {
    for (int32_t v : {-60, -1, 0, 60, 61, 127, 128, -200}) {
        WriteAdjustFile("dpx20remote02.adj", 8, v, v, v);
        EXPECT_EQ(fs::file_size("dpx20remote02.adj"), 278u) << v;
        ASSERT_EQ(Read("dpx20remote02.adj"), 1) << v;
        const int32_t expected = (v >= -60 && v <= 60) ? v : 0;
        EXPECT_EQ(parallax, expected) << v;
        EXPECT_EQ(sub, expected) << v;
    }
    EXPECT_NE(AdjustFileText(0, 61, 200, 0).find("adj_parallax       = 3Dh\nadj_intensity      = NGh\n"),
              std::string::npos);
}

TEST_F(AdjustFileTest, SizeLimits) {
    for (std::size_t size : {128u, 1023u}) {
        Spit("dpx20remote03.adj", CompactFile(size));
        EXPECT_EQ(Read("dpx20remote03.adj"), 1) << size;
        EXPECT_EQ(parallax, 13);
    }
    EXPECT_TRUE(messages.texts.empty());
    Spit("dpx20remote03.adj", CompactFile(127));
    EXPECT_EQ(Read("dpx20remote03.adj"), 0);
    Spit("dpx20remote03.adj", CompactFile(1024));
    EXPECT_EQ(Read("dpx20remote03.adj"), 0);
    Spit("dpx20remote03.adj", "");
    EXPECT_EQ(Read("dpx20remote03.adj"), 0);
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{
                  "adj file size is too small! [ 127 byte ]\n\nMaybe invalid file.\nCannot load data from file.",
                  "adj file size is too big! [ 1024 byte ]\n\nMaybe invalid file.\nCannot load data from file.",
                  "adj file size is too small! [ 0 byte ]\n\nMaybe invalid file.\nCannot load data from file."}));
    EXPECT_EQ(Entries(), std::set<std::string>{"dpx20remote03.adj"});
}

TEST_F(AdjustFileTest, MissingOrUnreadableFileChangesNothing) {
    EXPECT_EQ(Read("dpx20remote07.adj"), 0);
    fs::create_directory("dpx20remote08.adj");
    EXPECT_EQ(Read("dpx20remote08.adj"), 0);
    EXPECT_EQ(ReadAdjustFile("", &mode, &parallax, &intensity, &sub), 0);
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{
                  "Do not found adjust file!\n\n[ file name = dpx20remote07.adj ]",
                  "Cannot read the option file!\n\n[ " + (dir_ / "dpx20remote08.adj").string() + " ]",
                  "ReadAdjustFile : Error! no file name."}));
    EXPECT_EQ(Entries(), std::set<std::string>{"dpx20remote08.adj"});
}

TEST_F(AdjustFileTest, VersionsOtherThanOneAreRefused) {
    Spit("dpx20remote01.adj", CompactFile(200, "00"));
    EXPECT_EQ(Read("dpx20remote01.adj"), 0);
    Spit("dpx20remote01.adj", CompactFile(200, "02"));
    EXPECT_EQ(Read("dpx20remote01.adj"), 0);
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{
                  "This adj file version is old (ver.0) !\nThis software recomand the ver.1.\n\nCannot load data from file.",
                  "This adj file version is too new (ver.2) !\nNext save time, the adj file version will be down (ver.1).\n\nIf you save by this software, the upper version software cannot Load this file!"}));
}

TEST_F(AdjustFileTest, MissingKeysAndEndLineAreRefused) {
    const std::vector<std::string> keys = {"adj_file_version", "adj_mode", "adj_parallax",
                                           "adj_intensity", "adj_sub.intensity"};
    // A file that stops just before each key line in turn, padded without "=".
    for (const std::string& key : keys) {
        std::string text = kSlotOneFile.substr(0, kSlotOneFile.find(key));
        text.resize(200, '.');
        Spit("dpx20remote01.adj", text);
        EXPECT_EQ(Read("dpx20remote01.adj"), 0) << key;
    }
    const std::size_t last = kSlotOneFile.find("adj_sub.intensity") + 19;
    Spit("dpx20remote01.adj", kSlotOneFile.substr(0, last + 13));
    EXPECT_EQ(Read("dpx20remote01.adj"), 0);
    std::string changed = kSlotOneFile;
    changed[last + 11] = '+';
    Spit("dpx20remote01.adj", changed);
    EXPECT_EQ(Read("dpx20remote01.adj"), 0);
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{
                  "The file version cannot get!\n\nCannot load data from file.",
                  "The adj mode parameter cannot get!\n\nCannot load data from file.",
                  "The parallax parameter cannot get!\n\nCannot load data from file.",
                  "The intensity parameter cannot get!\n\nCannot load data from file.",
                  "The sub.intensity parameter cannot get!\n\nCannot load data from file.",
                  "Someting wrong! End of ini file cannot get.\n\nCannot load data from file.",
                  "Someting wrong! End of ini file not found.\n\nCannot load data from file."}));
    EXPECT_EQ(Entries(), std::set<std::string>{"dpx20remote01.adj"});
}

TEST_F(AdjustFileTest, KeyNamesAreNotCheckedAndAZeroByteEndsTheText) {
    std::string text = kSlotOneFile;
    for (const char* key : {"adj_mode", "adj_parallax", "adj_intensity"})
        text.replace(text.find(key), 3, "XYZ");
    Spit("dpx20remote01.adj", text);
    EXPECT_EQ(Read("dpx20remote01.adj"), 1);
    EXPECT_EQ(intensity, 23);

    // The text ends before the sub intensity: its value is empty and the end is not found.
    text[text.find("adj_sub.intensity")] = '\0';
    Spit("dpx20remote01.adj", text);
    EXPECT_EQ(Read("dpx20remote01.adj"), 0);
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(messages.texts, std::vector<std::string>{
                                  "Someting wrong! End of ini file not found.\n\nCannot load data from file."});
}

}  // namespace
}  // namespace dpx
