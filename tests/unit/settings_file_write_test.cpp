// Failed writes of the settings files: the old file stays as it was, the message is shown,
// the process is ended with code 1 and no temporary file is left behind. The tests run as
// root, so permissions cannot make a write fail; they use a missing directory, a directory in
// place of the file, and the file-size limit of the process instead.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "settings/AdjustFile.h"
#include "settings/OptionFile.h"
#include "tests/support/PosixFaults.h"
#include "tests/support/TestSeam.h"
#include "tests/unit/settings_fixture.h"

namespace dpx {
namespace {

namespace fs = std::filesystem;

class SettingsWriteTest : public test::SettingsDirTest {};

TEST_F(SettingsWriteTest, EmptyNameWritesNothing) {
    WriteOptionFile("", options.record);
    WriteAdjustFile("", 4, 13, 23, 40);
    EXPECT_EQ(messages.texts, (std::vector<std::string>{"WriteOptionFile : Error! no file name.",
                                                        "WriteAdjustFile : Error! no file name."}));
    EXPECT_TRUE(fatal.codes.empty());
    EXPECT_TRUE(Entries().empty());
}

TEST_F(SettingsWriteTest, MissingDirectoryCannotCreate) {
    WriteOptionFile("nodir/dpx20remote.ini", options.record);
    WriteAdjustFile("nodir/dpx20remote01.adj", 4, 13, 23, 40);
    EXPECT_EQ(messages.texts, (std::vector<std::string>{"Cannot create the nodir/dpx20remote.ini file!",
                                                        "Cannot create the nodir/dpx20remote01.adj file!"}));
    EXPECT_EQ(fatal.codes, (std::vector<int>{1, 1}));
    EXPECT_TRUE(Entries().empty());
}

TEST_F(SettingsWriteTest, DirectoryInPlaceOfTheFileCannotBeReplaced) {
    fs::create_directory("dpx20remote.ini");
    fs::create_directory("dpx20remote02.adj");
    options.Save();
    WriteAdjustFile("dpx20remote02.adj", 4, 13, 23, 40);
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{
                  "Cannot write to the dpx20remote.ini file!\n\n\n" + OptionFileText(options.record),
                  "Cannot write to the dpx20remote02.adj file!\n\n\n" + AdjustFileText(4, 13, 23, 40)}));
    EXPECT_EQ(fatal.codes, (std::vector<int>{1, 1}));
    EXPECT_EQ(Entries(), (std::set<std::string>{"dpx20remote.ini", "dpx20remote02.adj"}));
    EXPECT_TRUE(fs::is_directory("dpx20remote.ini"));
}

TEST_F(SettingsWriteTest, FailedWriteKeepsTheOldFileByteForByte) {
    if (!test::kPosixFaults) GTEST_SKIP() << "needs a POSIX file-size limit to make writes fail";
    SettingsRecord old;
    old.sys_2D3D = 1;
    WriteOptionFile("dpx20remote.ini", old);
    WriteAdjustFile("dpx20remote01.adj", 6, 1, 2, 3);
    const std::string old_options = Slurp("dpx20remote.ini");
    const std::string old_adjust = Slurp("dpx20remote01.adj");
    {
        test::FileSizeLimit limit(100);
        options.Save();
        WriteAdjustFile("dpx20remote01.adj", 4, 13, 23, 40);
    }
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{
                  "Cannot write to the dpx20remote.ini file!\n\n\n" + OptionFileText(options.record),
                  "Cannot write to the dpx20remote01.adj file!\n\n\n" + AdjustFileText(4, 13, 23, 40)}));
    EXPECT_EQ(fatal.codes, (std::vector<int>{1, 1}));
    EXPECT_EQ(Slurp("dpx20remote.ini"), old_options);
    EXPECT_EQ(Slurp("dpx20remote01.adj"), old_adjust);
    EXPECT_EQ(Entries(), (std::set<std::string>{"dpx20remote.ini", "dpx20remote01.adj"}));
}

TEST_F(SettingsWriteTest, ReplacingKeepsThePermissionsAndLeavesNoTemporaryFile) {
    if (!test::kPosixFaults) GTEST_SKIP() << "permission bits are POSIX";
    WriteOptionFile("dpx20remote.ini", options.record);
    fs::permissions("dpx20remote.ini", fs::perms::owner_read | fs::perms::owner_write);
    options.record.sys_beep = 1;
    options.Save();
    EXPECT_EQ(Slurp("dpx20remote.ini"), OptionFileText(options.record));
    EXPECT_EQ(fs::status("dpx20remote.ini").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Entries(), std::set<std::string>{"dpx20remote.ini"});
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(SettingsWriteTest, FatalExitWithoutHookEndsTheProcessWithCodeOne) {
    EXPECT_EXIT(
        {
            TestSeam seam;
            seam.FatalExit({});
            seam.Sink(nullptr);
            WriteOptionFile("nodir/dpx20remote.ini", options.record);
        },
        ::testing::ExitedWithCode(1), "Cannot create the nodir/dpx20remote.ini file!");
}

}  // namespace
}  // namespace dpx
