// Settings files under faults: names that are not regular files, links, writers killed
// mid-save, two writers at once, and a read-only folder.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "settings/AdjustFile.h"
#include "settings/OptionFile.h"
#include "settings/SettingsFile.h"
#include "tests/support/PosixFaults.h"
#include "tests/unit/settings_fixture.h"

namespace dpx {
namespace {

namespace fs = std::filesystem;
using settings_file::ReplaceFile;
using settings_file::WriteStatus;

class SettingsWriteTest : public test::SettingsDirTest {};

class SettingsFaultTest : public test::SettingsDirTest {
protected:
    // In memory where the system has such a folder: a kill hits any moment of a save as on
    // disk, and a save takes microseconds instead of a disk flush.
    SettingsFaultTest() {
        std::error_code ec;
        if (fs::is_directory("/dev/shm", ec)) base_ = "/dev/shm";
    }
    void SetUp() override {
        SettingsDirTest::SetUp();
        if (!test::kPosixFaults) GTEST_SKIP() << "needs POSIX FIFOs, links, fork and kill";
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        SettingsDirTest::TearDown();
    }
    // Names in the test directory besides the settings file itself.
    std::size_t LeftOver() const { return Entries().size() - 1; }
    // No temporary file can be made in a read-only folder, so the settings file is rewritten
    // in place by writers in child processes that call test::BecomeNobody() first.
    void MakeFolderReadOnly() {
        ASSERT_TRUE(test::GiveToNobody(dir_ / "dpx20remote.ini"));
        fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    }
};

TEST_F(SettingsFaultTest, LinkToAFifoIsLeftAsItWas) {
    ASSERT_TRUE(test::MakeFifo("fifo"));
    fs::create_symlink("fifo", "dpx20remote.ini");
    fs::create_symlink("fifo", "dpx20remote03.adj");
    options.Save();
    WriteAdjustFile("dpx20remote03.adj", 4, 13, 23, 40);
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{
                  "Cannot write to the dpx20remote.ini file!\n\n\n" + OptionFileText(options.record),
                  "Cannot write to the dpx20remote03.adj file!\n\n\n" + AdjustFileText(4, 13, 23, 40)}));
    EXPECT_EQ(fatal.codes, (std::vector<int>{1, 1}));
    EXPECT_EQ(fs::read_symlink("dpx20remote.ini"), "fifo");
    EXPECT_EQ(fs::read_symlink("dpx20remote03.adj"), "fifo");
    EXPECT_TRUE(fs::is_fifo("fifo"));
    EXPECT_EQ(Entries(), (std::set<std::string>{"fifo", "dpx20remote.ini", "dpx20remote03.adj"}));
}

// A damaged options file is moved aside before it is rewritten only when a regular file stands
// at its name itself: a link (to a device, a FIFO, a regular file), a device or a FIFO is left
// as it is, link target included, and the notice says why nothing was kept.
TEST_F(SettingsFaultTest, DamagedFileIsKeptAsideOnlyWhenItIsARegularFile) {
    const std::string damaged = "damaged";
    struct Case {
        const char* name;
        std::function<bool()> make;  // puts it at dpx20remote.ini; false: the system cannot
        const char* kind;            // what the notice calls it; nullptr: it is kept
    };
    const Case cases[] = {
        {"regular file", [&] { Spit("dpx20remote.ini", damaged); return true; }, nullptr},
        {"link to a character device",
         [&] { return test::MakeCharDevice("node") && (fs::create_symlink("node", "dpx20remote.ini"), true); },
         "a symbolic link"},
        {"link to a FIFO", [&] { return test::MakeFifo("node") && (fs::create_symlink("node", "dpx20remote.ini"), true); },
         "a symbolic link"},
        {"link to a regular file", [&] { Spit("node", damaged); fs::create_symlink("node", "dpx20remote.ini"); return true; },
         "a symbolic link"},
        {"character device", [&] { return test::MakeCharDevice("dpx20remote.ini"); }, "a character device"},
        {"FIFO", [&] { return test::MakeFifo("dpx20remote.ini"); }, "a FIFO"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& e : fs::directory_iterator(dir_)) fs::remove(e.path());
        messages.texts.clear();
        messages.details.clear();
        if (!c.make()) continue;  // no device nodes here
        const fs::file_type node = fs::symlink_status("node").type();
        EXPECT_EQ(options.Read("dpx20remote.ini"), 0);
        ASSERT_FALSE(messages.details.empty());
        const std::string ini = (dir_ / "dpx20remote.ini").string();
        if (!c.kind) {
            EXPECT_EQ(messages.details[0], "The damaged file is kept as " + ini + settings_file::kDamagedSuffix + ".");
            EXPECT_EQ(Slurp(ini + settings_file::kDamagedSuffix), damaged);
            continue;
        }
        // What stands there, when it cannot be read, and then that nothing was kept.
        const std::string kept = "Nothing was kept as " + ini + settings_file::kDamagedSuffix + ": " + ini + " is " + c.kind +
                                 ", which is left as it is (only a regular file is moved aside).";
        const bool readable = fs::is_regular_file(ini);
        EXPECT_EQ(messages.details[0], readable ? kept : settings_file::UnreadableReason(ini) + "\n" + kept);
        EXPECT_EQ(readable, messages.details[0].rfind("it is ", 0) != 0) << messages.details[0];
        EXPECT_FALSE(fs::exists(fs::symlink_status(ini + settings_file::kDamagedSuffix)));
        EXPECT_EQ(fs::symlink_status("node").type(), node);
        if (node != fs::file_type::not_found) {
            EXPECT_EQ(fs::read_symlink("dpx20remote.ini"), "node");
        }
    }
}

TEST_F(SettingsFaultTest, LinkToARegularFileStaysALink) {
    fs::create_directory("real");
    Spit("real/settings", "old");
    fs::create_symlink("real/settings", "dpx20remote05.sav");
    WriteOptionFile(MemoryFileName(5), options.record);
    EXPECT_EQ(fs::read_symlink("dpx20remote05.sav"), "real/settings");
    EXPECT_EQ(Slurp("real/settings"), OptionFileText(options.record));
    EXPECT_EQ(Entries("real"), std::set<std::string>{"settings"});
    EXPECT_TRUE(messages.texts.empty());
}

// Two writers at once (threads, so that this runs on every system: each open of the
// temporary file excludes the others as another program's would) take turns; every text
// seen is complete, and the last one wins.
TEST_F(SettingsWriteTest, TwoWritersAtOnceNeverMixTheirTexts) {
    const std::string texts[] = {std::string(3000, 'a'), std::string(1000, 'b')};
    ASSERT_EQ(ReplaceFile("dpx20remote.ini", texts[0]), WriteStatus::kOk);
    std::atomic<int> failures = 0;
    auto saves = [&](const std::string& text) {
        for (int i = 0; i < 200; ++i) failures += ReplaceFile("dpx20remote.ini", text) != WriteStatus::kOk;
    };
    std::thread first(saves, texts[0]);
    std::thread second(saves, texts[1]);
    for (int i = 0; i < 200; ++i) {
        std::ifstream in("dpx20remote.ini", std::ios::binary);
        if (!in) continue;  // Windows refuses an open during the moment of a replace
        const std::string now{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_TRUE(now == texts[0] || now == texts[1]) << now.size();
    }
    first.join();
    second.join();
    EXPECT_EQ(failures, 0);
    const std::string last = Slurp("dpx20remote.ini");
    EXPECT_TRUE(last == texts[0] || last == texts[1]) << last.size();
    EXPECT_EQ(Entries(), std::set<std::string>{"dpx20remote.ini"});
}

// A writer killed at any moment leaves the old or the new text whole: in an ordinary folder
// with at most one temporary file, which the next save removes; in a read-only folder, where
// the file is rewritten in place, never empty.
TEST_F(SettingsFaultTest, WriterKilledMidSaveLeavesTheFileWhole) {
    const std::string texts[] = {OptionFileText(SettingsRecord{}), std::string(1500, 'x')};
    // In place, a kill between the write of the shorter text and the cut leaves the end of the
    // longer one after it, beyond the end line where the readers stop.
    const std::string uncut = texts[0] + texts[1].substr(texts[0].size());
    for (const bool read_only : {false, true}) {
        SCOPED_TRACE(read_only ? "read-only folder" : "ordinary folder");
        ASSERT_EQ(ReplaceFile("dpx20remote.ini", texts[0]), WriteStatus::kOk);
        if (read_only) MakeFolderReadOnly();
        std::set<std::string> seen;
        std::mt19937 random(7);
        for (int round = 0; round < 300; ++round) {
            test::Child writer([&] {
                if (read_only && !test::BecomeNobody()) return 1;
                for (unsigned i = 0;; ++i) ReplaceFile("dpx20remote.ini", texts[i % 2]);
            });
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
            writer.Kill();
            const std::string now = Slurp("dpx20remote.ini");
            ASSERT_TRUE(now == texts[0] || now == texts[1] || (read_only && now == uncut))
                << "round " << round << ": " << now.size();
            ASSERT_LE(LeftOver(), read_only ? 0u : 1u) << "round " << round;
            seen.insert(now);
        }
        EXPECT_GE(seen.size(), 2u) << "the writer never got to save";
    }
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    options.Save();
    EXPECT_EQ(Slurp("dpx20remote.ini"), texts[0]);
    EXPECT_EQ(Entries(), std::set<std::string>{"dpx20remote.ini"});
}

// A shorter text rewritten in place is cut to its length, and nothing else is made.
TEST_F(SettingsFaultTest, ReadOnlyFolderWithAWritableFileIsWrittenInPlace) {
    Spit("dpx20remote.ini", std::string(1500, 'x'));
    MakeFolderReadOnly();
    SettingsRecord changed;
    changed.sys_beep = 1;
    test::Child writer([&] {
        if (!test::BecomeNobody()) return 1;
        return ReplaceFile(dir_ / "dpx20remote.ini", OptionFileText(changed)) == WriteStatus::kOk ? 0 : 2;
    });
    EXPECT_EQ(writer.Wait(), 0);
    EXPECT_EQ(Slurp("dpx20remote.ini"), OptionFileText(changed));
    EXPECT_EQ(Entries(), std::set<std::string>{"dpx20remote.ini"});
}

// A program stopped while it holds the writers' lock (on the temporary file; in a read-only
// folder on the file itself) makes a save give up within the wait, saying which program that
// is; the old file stays as it was.
TEST_F(SettingsFaultTest, StoppedLockHolderMakesTheSaveFailInTime) {
    using std::chrono::steady_clock;
    const auto bound = settings_file::kLockWait + std::chrono::milliseconds(500);
    for (const bool read_only : {false, true}) {
        SCOPED_TRACE(read_only ? "read-only folder" : "ordinary folder");
        WriteOptionFile("dpx20remote.ini", SettingsRecord{});
        const std::string old = Slurp("dpx20remote.ini");
        if (read_only) MakeFolderReadOnly();
        test::Child holder([&] {
            return test::LockAndStop(read_only ? "dpx20remote.ini" : "dpx20remote.ini.tmp") ? 0 : 1;
        });
        ASSERT_TRUE(holder.AwaitStop());
        const std::string process = "(process " + std::to_string(holder.Id()) + ")";
        options.record.sys_beep = 1;
        const auto start = steady_clock::now();
        if (read_only) {
            test::Child writer([&] {
                std::string who;
                if (!test::BecomeNobody()) return 1;
                if (ReplaceFile("dpx20remote.ini", OptionFileText(options.record), &who) != WriteStatus::kBusy)
                    return 2;
                return who.find(process) == std::string::npos ? 3 : 0;
            });
            EXPECT_EQ(writer.Wait(), 0);
        } else {
            options.Save();
            EXPECT_EQ(messages.texts, std::vector<std::string>{"Cannot write to the dpx20remote.ini file!\n\n\n" +
                                                               OptionFileText(options.record)});
            ASSERT_EQ(messages.details.size(), 1u);
            EXPECT_NE(messages.details[0].find(process), std::string::npos) << messages.details[0];
            EXPECT_EQ(fatal.codes, std::vector<int>{1});
        }
        EXPECT_LT(steady_clock::now() - start, bound);
        EXPECT_EQ(Slurp("dpx20remote.ini"), old);
        holder.Kill();
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove("dpx20remote.ini.tmp");
    }
}

}  // namespace
}  // namespace dpx
