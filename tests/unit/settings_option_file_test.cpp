#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/OptionFile.h"
#include "settings/SettingsFile.h"
#include "settings/OptionFile.h"
#include "tests/support/PosixFaults.h"
#include "tests/unit/settings_fixture.h"

namespace dpx {
namespace {

namespace fs = std::filesystem;
using test::SettingsDirTest;

const std::string kDefaultFile =
    "-----< DPX20 Remote Settings >---------------------\n"
    "\n//this file version\n"
    "ini_file_version   = 01h\n"
    "\n//for Top Dialog UI control\n"
    "sys_2D3D           = 0\n"
    "sys_no_ack         = 0\n"
    "sys_sync_on        = 1\n"
    "vertual_mode       = 0\n"
    "debug_mode         = 0\n"
    "\n//for Input Select UI control\n"
    "sys_input_select   = 3\n"
    "sys_input_porality = 0\n"
    "\n//for Output Preset UI control\n"
    "sys_sdi_mix        = 0\n"
    "sys_hdmi_mix       = 0\n"
    "sys_3dfmt          = 1\n"
    "\n//for Function UI control\n"
    "sys_rotate         = 0\n"
    "sys_f_sync         = 1\n"
    "sys_beep           = 0\n"
    "sys_bk_light       = 00h\n"
    "\n//for Function UI control MEM saved value\n"
    "sys_save1_para     = 0Dh\n"
    "sys_save1_inte     = 17h\n"
    "sys_save1_subi     = 28h\n"
    "sys_save2_para     = 0Dh\n"
    "sys_save2_inte     = 17h\n"
    "sys_save2_subi     = 28h\n"
    "\n//for Adjust 2D3D UI control\n"
    "sys_adj3d_mode     = 0\n"
    "sys_adj3d_para     = 0Dh\n"
    "sys_adj3d_inte     = 17h\n"
    "sys_adj3d_subi     = 28h\n"
    "\n//for Adjust SDI-LR UI control\n"
    "sys_LRadj_mode    = 0\n"
    "sys_LRadj_split   = 00h\n"
    "\n//for Scope UI control\n"
    "sys_scp_mode      = 0\n"
    "sys_scp_src       = 0\n"
    "sys_scp_pos       = 0\n"
    "sys_scp_fil       = 0\n"
    "sys_scp_wgain     = 00h\n"
    "sys_scp_vgain     = 00h\n"
    "\n//for COM port I/O\n"
    "com_port_num      = 1\n"
    "load_adj_only     = 0\n"
    "\n-------------------======= End of Settings =======\n";

// A record in which every field differs from its initial value, inside the ranges that
// survive a save and a load (digits 0-9, hex -60..60).
SettingsRecord OddRecord() {
    SettingsRecord r;
    r.sys_2D3D = 1; r.sys_no_ack = 1; r.sys_sync_on = 0; r.vertual_mode = 1; r.debug_mode = 1;
    r.sys_input_select = 0; r.sys_input_porality = 1;
    r.sys_sdi_mix = 1; r.sys_hdmi_mix = 1; r.sys_3dfmt = 3;
    r.sys_rotate = 6; r.sys_f_sync = 0; r.sys_beep = 1; r.sys_bk_light = -30;
    r.sys_save1_para = 60; r.sys_save1_inte = 0; r.sys_save1_subi = 1;
    r.sys_save2_para = 59; r.sys_save2_inte = 31; r.sys_save2_subi = 32;
    r.sys_adj3d_mode = 8; r.sys_adj3d_para = 2; r.sys_adj3d_inte = 3; r.sys_adj3d_subi = 4;
    r.sys_LRadj_mode = 3; r.sys_LRadj_split = -60;
    r.sys_scp_mode = 2; r.sys_scp_src = 3; r.sys_scp_pos = 2; r.sys_scp_fil = 1;
    r.sys_scp_wgain = 30; r.sys_scp_vgain = -1;
    r.com_port_num = 8; r.load_adj_only = 1;
    return r;
}

// Offset just past the line that starts with `key` (the line feed included).
std::size_t AfterLine(const std::string& text, const std::string& key) {
    const auto at = text.find("\n" + key);
    EXPECT_NE(at, std::string::npos) << key;
    return text.find('\n', at + 1) + 1;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

// The default text without comment words, padded after the end line to exactly `size` bytes.
std::string FileOfSize(std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < kDefaultFile.size(); ++i) {
        if (kDefaultFile.compare(i, 2, "//") == 0) i = kDefaultFile.find('\n', i) - 1;
        else text += kDefaultFile[i];
    }
    EXPECT_LE(text.size(), size);
    text.resize(size, ' ');
    return text;
}

class OptionFileTest : public SettingsDirTest {};

TEST_F(OptionFileTest, FreshRecordSavesTheDefaultFile) {
    options.Save();
    const std::string text = Slurp("dpx20remote.ini");
    EXPECT_EQ(text, kDefaultFile);
    EXPECT_EQ(text.size(), 1216u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 58);
    EXPECT_EQ(std::count(text.begin(), text.end(), '='), 35 + 14);

    std::vector<std::string> values;
    for (std::size_t at = text.find("= "); at < text.find("\n---------"); at = text.find("= ", at + 1))
        values.push_back(text.substr(at + 2, text.find_first_of("h\n", at) - at - 2));
    const std::vector<std::string> expected = {
        "01", "0", "0", "1", "0", "0", "3", "0", "0", "0", "1", "0", "1", "0", "00", "0D", "17", "28",
        "0D", "17", "28", "0", "0D", "17", "28", "0", "00", "0", "0", "0", "0", "00", "00", "1", "0"};
    EXPECT_EQ(values, expected);
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_EQ(Entries(), (std::set<std::string>{"dpx20remote.ini"}));
}

// The full path is kept as the system gives it: on Windows a folder name outside the ANSI code
// page must reach the open call intact, and the bytes written are the same as everywhere.
TEST_F(OptionFileTest, FolderNamedOutsideAsciiIsWrittenThroughItsFullPath) {
    const fs::path folder = dir_ / fs::path(u8"r\u00e9glages-\u8a2d\u5b9a");
    ASSERT_TRUE(fs::create_directory(folder));
    fs::current_path(folder);
    EXPECT_EQ(options.Read(options_file_name), 0);  // missing: created
    EXPECT_EQ(options.Read(options_file_name), 1);
    EXPECT_EQ(options.path, folder / options_file_name);
    fs::current_path(dir_);
    options.Save();
    EXPECT_EQ(Slurp(folder / options_file_name), kDefaultFile);
    EXPECT_EQ(messages.texts, std::vector<std::string>{
                                  "Do not found option file!\n\nCreate new file.\n[ dpx20remote.ini ]"});
    EXPECT_TRUE(fatal.codes.empty());
    EXPECT_EQ(Entries(folder), std::set<std::string>{options_file_name});
}

TEST_F(OptionFileTest, ReadingBackReproducesTheRecord) {
    const SettingsRecord odd = OddRecord();
    WriteOptionFile(MemoryFileName(2), odd);
    SettingsRecord loaded;
    EXPECT_EQ(options.Read("dpx20remote02.sav", loaded), 1);
    EXPECT_EQ(loaded, odd);

    WriteOptionFile("dpx20remote.ini", SettingsRecord{});
    options.record = odd;
    EXPECT_EQ(options.Read("dpx20remote.ini"), 1);
    EXPECT_EQ(options.record, SettingsRecord{});
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_TRUE(fatal.codes.empty());
}

TEST_F(OptionFileTest, MemoryFileNames) {
    EXPECT_EQ(MemoryFileName(1), "dpx20remote01.sav");
    EXPECT_EQ(MemoryFileName(6), "dpx20remote06.sav");
    EXPECT_STREQ(options_file_name, "dpx20remote.ini");
}

TEST_F(OptionFileTest, MissingOptionsFileIsCreatedFromTheRecord) {
    EXPECT_EQ(options.Read("dpx20remote.ini"), 0);
    EXPECT_EQ(messages.texts,
              std::vector<std::string>{"Do not found option file!\n\nCreate new file.\n[ dpx20remote.ini ]"});
    EXPECT_EQ(Slurp("dpx20remote.ini"), kDefaultFile);
    EXPECT_TRUE(options.path.empty());
}

TEST_F(OptionFileTest, MissingMemoryFileWritesNothing) {
    EXPECT_EQ(options.Read("dpx20remote03.sav"), 0);
    EXPECT_EQ(messages.texts,
              std::vector<std::string>{"Do not found option file!\n\n[ file name = dpx20remote03.sav ]"});
    EXPECT_TRUE(Entries().empty());
}

TEST_F(OptionFileTest, SizeLimits) {
    for (std::size_t size : {1024u, 2047u}) {
        Spit("dpx20remote01.sav", FileOfSize(size));
        SettingsRecord loaded = OddRecord();
        EXPECT_EQ(options.Read("dpx20remote01.sav", loaded), 1) << size;
        EXPECT_EQ(loaded, SettingsRecord{}) << size;
    }
    EXPECT_TRUE(messages.texts.empty());

    options.record.sys_beep = 1;  // shows that the rewrite comes from the record
    Spit("dpx20remote.ini", FileOfSize(1023));
    EXPECT_EQ(options.Read("dpx20remote.ini"), 0);
    Spit("dpx20remote01.sav", FileOfSize(2048));
    EXPECT_EQ(options.Read("dpx20remote01.sav"), 0);
    Spit("dpx20remote01.sav", std::string(100000, '='));
    EXPECT_EQ(options.Read("dpx20remote01.sav"), 0);
    Spit("dpx20remote01.sav", "");
    EXPECT_EQ(options.Read("dpx20remote01.sav"), 0);
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{
                  "ini file size is too small! [ 1023 byte ]\nMaybe invalid file.\n\nCreate new ini file.\n[ dpx20remote.ini ]",
                  "ini file size is too big! [ 2048 byte ]\nMaybe invalid file.\n\nCreate new ini file.\n[ dpx20remote01.sav ]",
                  "ini file size is too big! [ 100000 byte ]\nMaybe invalid file.\n\nCreate new ini file.\n[ dpx20remote01.sav ]",
                  "ini file size is too small! [ 0 byte ]\nMaybe invalid file.\n\nCreate new ini file.\n[ dpx20remote01.sav ]"}));
    // Every failure rewrites the options file (at the path it was read from), never the
    // memory file.
    EXPECT_EQ(Slurp("dpx20remote.ini"), OptionFileText(options.record));
    EXPECT_EQ(options.path, dir_ / "dpx20remote.ini");
    EXPECT_EQ(Slurp("dpx20remote01.sav"), "");
}

TEST_F(OptionFileTest, OldAndNewVersionsRewriteTheOptionsFile) {
    const SettingsRecord odd = OddRecord();
    Spit("dpx20remote.ini", Replace(OptionFileText(odd), "= 01h", "= 00h"));
    EXPECT_EQ(options.Read("dpx20remote.ini"), 0);
    Spit("dpx20remote04.sav", Replace(OptionFileText(odd), "= 01h", "= 02h"));
    EXPECT_EQ(options.Read("dpx20remote04.sav"), 0);
    Spit("dpx20remote04.sav", Replace(OptionFileText(odd), "= 01h", "= 1h"));  // "1h" is not "01"
    EXPECT_EQ(options.Read("dpx20remote04.sav"), 0);
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{
                  "This ini file version is old (ver.0) !\nCreate new ini file (ver.1).\n\nAll settings return to default!",
                  "This ini file version is too new (ver.2) !\nNext save time, the ini file version will be down (ver.1).\n\nIf you start the upper version software, all settings maybe return to default!",
                  "This ini file version is old (ver.0) !\nCreate new ini file (ver.1).\n\nAll settings return to default!"}));
    EXPECT_EQ(options.record, SettingsRecord{});  // the version comes first: nothing was stored
    EXPECT_EQ(Slurp("dpx20remote.ini"), kDefaultFile);
}

TEST_F(OptionFileTest, MissingKeyKeepsTheFieldsReadBeforeIt) {
    // No "=" after the sys_sdi_mix line, padded to a normal size.
    std::string text = OptionFileText(OddRecord());
    text.resize(AfterLine(text, "sys_sdi_mix"));
    text.resize(1100, '.');
    Spit("dpx20remote05.sav", text);

    EXPECT_EQ(options.Read("dpx20remote05.sav"), 0);
    EXPECT_EQ(messages.texts,
              std::vector<std::string>{"The sys_hdmi_mix parameter cannot get!\n Create new ini file"});
    SettingsRecord mixed;
    const SettingsRecord odd = OddRecord();
    mixed.sys_2D3D = odd.sys_2D3D; mixed.sys_no_ack = odd.sys_no_ack;
    mixed.sys_sync_on = odd.sys_sync_on; mixed.vertual_mode = odd.vertual_mode;
    mixed.debug_mode = odd.debug_mode; mixed.sys_input_select = odd.sys_input_select;
    mixed.sys_input_porality = odd.sys_input_porality; mixed.sys_sdi_mix = odd.sys_sdi_mix;
    EXPECT_EQ(options.record, mixed);
    EXPECT_EQ(Slurp("dpx20remote.ini"), OptionFileText(mixed));
    EXPECT_EQ(Slurp("dpx20remote05.sav"), text);
}

TEST_F(OptionFileTest, FirstAndLastKeyMissing) {
    Spit("dpx20remote01.sav", std::string(1500, 'x'));
    EXPECT_EQ(options.Read("dpx20remote01.sav"), 0);
    // The value of the last key needs p + 4 bytes: a file ending right after its "=" and one
    // more byte lacks it.
    std::string text = OptionFileText(SettingsRecord{});
    text.resize(text.rfind("load_adj_only") + 19 + 2);
    Spit("dpx20remote01.sav", text);
    EXPECT_EQ(options.Read("dpx20remote01.sav"), 0);
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{"The file version cannot get!\n Create new ini file",
                                        "The load_adj_only parameter cannot get!\n Create new ini file"}));
}

TEST_F(OptionFileTest, EndLine) {
    const SettingsRecord odd = OddRecord();
    const std::string text = OptionFileText(odd);
    const std::size_t last = text.rfind("load_adj_only") + 18;  // its "="
    ASSERT_EQ(text[last], '=');

    // Cut 13 bytes after the last "=": the end line cannot be got; no rewrite, fields kept.
    Spit("dpx20remote.ini", text.substr(0, last + 13));
    EXPECT_EQ(options.Read("dpx20remote.ini"), 0);
    EXPECT_EQ(options.record, odd);
    EXPECT_EQ(Slurp("dpx20remote.ini"), text.substr(0, last + 13));

    // One more byte holds the fifth dash of the end line: accepted without a word.
    options.record = {};
    Spit("dpx20remote.ini", text.substr(0, last + 14));
    EXPECT_EQ(options.Read("dpx20remote.ini"), 1);
    EXPECT_EQ(options.record, odd);
    EXPECT_EQ(messages.texts.size(), 1u);

    Spit("dpx20remote.ini", Replace(text, "\n-------------------===", "\n----+--------------==="));
    EXPECT_EQ(options.Read("dpx20remote.ini"), 1);
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{"Someting wrong! End of ini file cannot get.",
                                        "Someting wrong! End of ini file not found."}));
    EXPECT_EQ(Entries(), std::set<std::string>{"dpx20remote.ini"});
}

TEST_F(OptionFileTest, RemovedKeyLineShiftsLaterValues) {
    SettingsRecord odd = OddRecord();
    std::string text = OptionFileText(odd);
    const std::size_t start = AfterLine(text, "sys_f_sync");
    text.erase(start, AfterLine(text, "sys_beep") - start);
    Spit("dpx20remote06.sav", text);

    SettingsRecord loaded;
    EXPECT_EQ(options.Read("dpx20remote06.sav", loaded), 1);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"Someting wrong! End of ini file not found."});
    EXPECT_EQ(loaded.sys_f_sync, odd.sys_f_sync);
    EXPECT_EQ(loaded.sys_beep, 0xE);        // first character of "E2h", the back light line
    EXPECT_EQ(loaded.sys_bk_light, 60);     // "3Ch", sys_save1_para
    EXPECT_EQ(loaded.com_port_num, odd.load_adj_only);
    EXPECT_EQ(loaded.load_adj_only, 0);     // from the end line's "="
}

TEST_F(OptionFileTest, KeyNamesAndLineEndsAreNotChecked) {
    const SettingsRecord odd = OddRecord();
    std::string text = OptionFileText(odd);
    // Misspell every key: letters before an "=" become 'x'.
    std::string misspelt = text;
    for (std::size_t eq = misspelt.find('='); eq < misspelt.rfind("\n---"); eq = misspelt.find('=', eq + 1))
        for (std::size_t i = misspelt.rfind('\n', eq) + 1; i < eq; ++i)
            if (misspelt[i] != ' ') misspelt[i] = 'x';
    Spit("dpx20remote01.sav", misspelt);
    SettingsRecord loaded;
    EXPECT_EQ(options.Read("dpx20remote01.sav", loaded), 1);
    EXPECT_EQ(loaded, odd);

    std::string crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    Spit("dpx20remote02.sav", crlf);
    loaded = {};
    EXPECT_EQ(options.Read("dpx20remote02.sav", loaded), 1);
    EXPECT_EQ(loaded, odd);
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(OptionFileTest, ValuesOutsideTheFileRangesDoNotSurvive) {
    SettingsRecord r;
    r.sys_bk_light = 200;     // NGh
    r.sys_save1_para = 61;    // 3Dh
    r.sys_LRadj_split = -61;  // C3h
    r.sys_rotate = 12;        // "12": first character only
    r.sys_3dfmt = -3;         // "-3"
    r.com_port_num = 10;
    const std::string text = OptionFileText(r);
    EXPECT_NE(text.find("sys_bk_light       = NGh\n"), std::string::npos);
    EXPECT_NE(text.find("sys_save1_para     = 3Dh\n"), std::string::npos);
    EXPECT_NE(text.find("sys_rotate         = 12\n"), std::string::npos);
    EXPECT_NE(text.find("sys_3dfmt          = -3\n"), std::string::npos);
    WriteOptionFile("dpx20remote01.sav", r);
    SettingsRecord loaded;
    EXPECT_EQ(options.Read("dpx20remote01.sav", loaded), 1);
    SettingsRecord expected = r;
    expected.sys_bk_light = 0;
    expected.sys_save1_para = 0;
    expected.sys_LRadj_split = 0;
    expected.sys_rotate = 1;
    expected.sys_3dfmt = 0;
    expected.com_port_num = 1;
    EXPECT_EQ(loaded, expected);
}

TEST_F(OptionFileTest, ZeroByteEndsTheText) {
    // At the start: every value is empty text, so the version reads as 0.
    std::string text = kDefaultFile;
    text[0] = '\0';
    Spit("dpx20remote01.sav", text);
    EXPECT_EQ(options.Read("dpx20remote01.sav"), 0);
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.texts[0].rfind("This ini file version is old (ver.0) !", 0), 0u);

    // Before the COM port line: the later values read as 0, and the end is not found.
    const SettingsRecord odd = OddRecord();
    text = OptionFileText(odd);
    text[text.find("com_port_num")] = '\0';
    Spit("dpx20remote01.sav", text);
    SettingsRecord loaded;
    EXPECT_EQ(options.Read("dpx20remote01.sav", loaded), 1);
    SettingsRecord expected = odd;
    expected.com_port_num = 0;
    expected.load_adj_only = 0;
    EXPECT_EQ(loaded, expected);
    EXPECT_EQ(messages.texts.back(), "Someting wrong! End of ini file not found.");
}

TEST_F(OptionFileTest, DirectoryInPlaceOfTheFileIsReportedAndNotFatal) {
    // Running as root, permissions do not stop a read; a directory is the file that exists
    // but cannot be read. It is neither "not found" nor fatal: the options file's is moved
    // aside for the next save, a memory file's is left alone.
    fs::create_directory("dpx20remote.ini");
    fs::create_directory("dpx20remote02.sav");
    EXPECT_EQ(options.Read("dpx20remote.ini"), 0);
    EXPECT_EQ(options.Read("dpx20remote02.sav"), 0);
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{
                  "Cannot read the option file!\n\n[ " + (dir_ / "dpx20remote.ini").string() + " ]",
                  "Cannot read the option file!\n\n[ " + (dir_ / "dpx20remote02.sav").string() + " ]"}));
    // The detail says why; the options file's also where it went.
    EXPECT_EQ(messages.details[0].rfind("it is a folder\nThe damaged file is kept as ", 0), 0u) << messages.details[0];
    EXPECT_EQ(messages.details[1], "it is a folder");
    EXPECT_TRUE(fatal.codes.empty());
    EXPECT_EQ(Entries(), (std::set<std::string>{std::string("dpx20remote.ini") + settings_file::kDamagedSuffix,
                                                "dpx20remote02.sav"}));
}

TEST_F(OptionFileTest, FifoInPlaceOfTheFileDoesNotHang) {
    if (!test::kPosixFaults) GTEST_SKIP() << "needs a POSIX FIFO";
    ASSERT_TRUE(test::MakeFifo("dpx20remote01.sav"));
    EXPECT_EQ(options.Read("dpx20remote01.sav"), 0);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"Cannot read the option file!\n\n[ " +
                                                       (dir_ / "dpx20remote01.sav").string() + " ]"});
    EXPECT_EQ(messages.details, std::vector<std::string>{"it is a FIFO"});
}

TEST_F(OptionFileTest, CallerRecordIsLoadedAndOnlyTheSaveUsesTheProcessRecord) {
    const SettingsRecord odd = OddRecord();
    WriteOptionFile("dpx20remote01.sav", odd);
    SettingsRecord loaded;
    EXPECT_EQ(options.Read("dpx20remote01.sav", loaded), 1);
    EXPECT_EQ(loaded, odd);
    EXPECT_EQ(options.record, SettingsRecord{});

    // A failure loads the caller's record partly and writes the process-wide one.
    std::string text = OptionFileText(odd);
    text.resize(AfterLine(text, "sys_2D3D"));
    text.resize(1200, ' ');
    Spit("dpx20remote01.sav", text);
    options.record.sys_beep = 1;
    loaded = {};
    EXPECT_EQ(options.Read("dpx20remote01.sav", loaded), 0);
    EXPECT_EQ(loaded.sys_2D3D, 1);
    EXPECT_EQ(loaded.sys_no_ack, 0);
    SettingsRecord expected;
    expected.sys_beep = 1;
    EXPECT_EQ(options.record, expected);
    EXPECT_EQ(Slurp("dpx20remote.ini"), OptionFileText(expected));
}

TEST_F(OptionFileTest, LinkOptionsKeptWhilePanelConnected) {
    const SettingsRecord odd = OddRecord();
    WriteOptionFile("dpx20remote01.sav", odd);
    options.connected = 1;
    SettingsRecord loaded;
    EXPECT_EQ(options.Read("dpx20remote01.sav", loaded), 1);
    SettingsRecord expected = odd;
    expected.sys_no_ack = 0; expected.sys_sync_on = 1; expected.vertual_mode = 0;
    expected.debug_mode = 0; expected.com_port_num = 1;
    EXPECT_EQ(loaded, expected);

    options.connected = 0;
    EXPECT_EQ(options.Read("dpx20remote01.sav", loaded), 1);
    EXPECT_EQ(loaded, odd);
}

TEST_F(OptionFileTest, OptionsFilePathIsKeptAcrossDirectoryChanges) {
    options.Save();
    EXPECT_EQ(options.Read("dpx20remote.ini"), 1);
    ASSERT_EQ(options.path, dir_ / "dpx20remote.ini");
    options.Read("dpx20remote01.sav");  // memory files never move it
    EXPECT_EQ(options.path, dir_ / "dpx20remote.ini");

    fs::create_directory("elsewhere");
    fs::current_path("elsewhere");
    options.record.sys_2D3D = 1;
    options.Save();
    fs::current_path(dir_);
    EXPECT_FALSE(fs::exists("elsewhere/dpx20remote.ini"));
    EXPECT_EQ(Slurp("dpx20remote.ini"), OptionFileText(options.record));
}

}  // namespace
}  // namespace dpx
