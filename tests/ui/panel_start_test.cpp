// Start-up and shutdown of the panel: the options file of the current directory, the
// controls and link options it sets, and nothing sent or written at start or exit.
#include "tests/ui/panel_fixture.h"

#include <QFileInfo>
#include <QLabel>
#include <QTest>

#include "app/RemoteApp.h"
#include "platform/QtWorker.h"
#include "settings/FolderLock.h"
#include "settings/SettingsFile.h"

namespace dpx::test {
namespace {

using namespace panel;

TEST_F(PanelTest, FirstStartWithoutOptionsFileWritesTheStartValues) {
    Start();
    EXPECT_EQ(messages_.texts,
              std::vector<std::string>{"Do not found option file!\n\nCreate new file.\n[ dpx20remote.ini ]"});
    EXPECT_EQ(ReadFile("dpx20remote.ini"), OptionFileText(SettingsRecord{}));
    EXPECT_FALSE(Checked(kConversion));
    EXPECT_TRUE(Checked(kSyncOn));
    EXPECT_FALSE(Checked(kConnect));
    EXPECT_EQ(SelectedComPorts(), std::vector<int>{1});
    EXPECT_EQ(DebugField(), "");
    // Nothing is sent at start: no port is even opened.
    EXPECT_TRUE(ports_.empty());
    EXPECT_EQ(link_.State().link_connected, 0);
    EXPECT_TRUE(exits_.codes.empty());
}

TEST_F(PanelTest, StartShowsTheFileAndHandsTheLinkOptionsOver) {
    SettingsRecord saved;
    saved.sys_2D3D = 1;
    saved.sys_adj3d_mode = 5;
    saved.sys_adj3d_para = 44;
    saved.sys_save2_subi = 7;
    saved.sys_no_ack = 1;
    saved.vertual_mode = 1;
    saved.sys_sync_on = 0;
    saved.com_port_num = 4;
    WriteOptions(saved);
    Start();
    EXPECT_TRUE(messages_.texts.empty());
    EXPECT_EQ(Settings(), saved);
    EXPECT_TRUE(Checked(kConversion));
    EXPECT_TRUE(Checked(kAdjustMode));
    EXPECT_TRUE(Checked(kNoAck));
    EXPECT_TRUE(Checked(kVirtualMode));
    EXPECT_FALSE(Checked(kSyncOn));
    EXPECT_EQ(SelectedComPorts(), std::vector<int>{4});
    EXPECT_EQ(link_.State().link_port, 4);
    EXPECT_EQ(link_.State().link_no_ack, 1);
    EXPECT_EQ(link_.State().link_virtual, 1);
    EXPECT_EQ(link_.State().link_debug, 0);
    EXPECT_EQ(link_.GetAdjustValues()[0], 44);
    EXPECT_EQ(link_.GetAdjustValues()[8], 7);
    EXPECT_EQ(QDir(panel_->BoxSession().OptionsPath()),
              QDir(QDir::current().filePath("dpx20remote.ini")));
    EXPECT_TRUE(ports_.empty());
}

TEST_F(PanelTest, IndicatorsFollowTheInput) {
    SettingsRecord saved;
    saved.sys_input_select = 0;  // SDI-LR: adjust shows the SDI-LR mode, scope its mode
    saved.sys_2D3D = 1;
    saved.sys_adj3d_mode = 5;
    saved.sys_LRadj_mode = 0;
    saved.sys_scp_mode = 2;
    WriteOptions(saved);
    Start();
    EXPECT_FALSE(Checked(kAdjustMode));
    EXPECT_TRUE(Checked(kScope));
}

TEST_F(PanelTest, DebugModeFromTheFileAndTheCornerPictureToggle) {
    SettingsRecord saved;
    saved.debug_mode = 1;
    WriteOptions(saved);
    Start();
    EXPECT_EQ(DebugField(), "Debug Mode!");
    EXPECT_EQ(link_.State().link_debug, 1);
    EXPECT_TRUE(Checked(kDebugBox));

    auto* picture = ui::Control<QLabel>(panel_.get(), kCornerPicture);
    ASSERT_NE(picture, nullptr);
    QTest::mouseClick(picture, Qt::LeftButton);
    EXPECT_EQ(Settings().debug_mode, 0);
    EXPECT_EQ(link_.State().link_debug, 0);
    EXPECT_EQ(DebugField(), "");
    EXPECT_FALSE(Checked(kDebugBox));
    EXPECT_EQ(ReadFile("dpx20remote.ini"), LiveText());

    QTest::mouseClick(picture, Qt::LeftButton);
    EXPECT_EQ(Settings().debug_mode, 1);
    EXPECT_EQ(link_.State().link_debug, 1);
    EXPECT_EQ(DebugField(), "Debug Mode!");
    EXPECT_EQ(ReadFile("dpx20remote.ini"), LiveText());
}

// A damaged options file is moved aside before the start-up rewrite: one notice, whose detail
// names the kept file, and the kept file still holds every byte (or entry) of the damaged one.
TEST_F(PanelTest, DamagedOptionsFileIsKept) {
    const std::string ini = options_file_name;
    const std::string kept = ini + settings_file::kDamagedSuffix;
    const std::string text = OptionFileText(SettingsRecord{});
    const auto contents = [](const std::string& name) {
        const QString path = QString::fromStdString(name);
        if (!QFileInfo(path).isDir()) return ReadFile(name);
        return QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join('/').toStdString();
    };
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"truncated", [&] { WriteFile(ini, text.substr(0, text.size() / 2)); }},
        {"garbled", [&] { WriteFile(ini, std::string(text.size(), '?')); }},
        {"a directory", [&] {
             Remove(ini);
             ASSERT_TRUE(QDir().mkpath(QString::fromStdString(ini + "/inside")));
         }},
    };
    for (const auto& [what, damage] : cases) {  // each one also replaces the copy kept before
        SCOPED_TRACE(what);
        damage();
        const std::string damaged = contents(ini);
        messages_.texts.clear();
        messages_.details.clear();
        Start();
        ASSERT_EQ(messages_.texts.size(), 1u);
        EXPECT_NE(messages_.details[0].find(settings_file::ShownName(settings_file::FullPath(kept))),
                  std::string::npos) << messages_.details[0];
        EXPECT_EQ(contents(kept), damaged);
        EXPECT_EQ(ReadFile(ini), LiveText());
        EXPECT_TRUE(exits_.codes.empty());
        panel_.reset();
    }
}

// A second panel in a folder that a running one holds names the folder and that process in one
// notice and ends without reading or writing anything; the folder is free once the first ends.
TEST_F(PanelTest, SecondPanelInTheSameFolderIsRefused) {
    const std::filesystem::path folder = std::filesystem::current_path();
    {
        settings_file::FolderLock first;
        ASSERT_TRUE(first.Take(folder, nullptr));
        WriteFile(options_file_name, "not even an options file");
        const QStringList before = QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        ui::QtMessageSink unused;  // the refusal is the one notice, through the sink in force
        EXPECT_EQ(RemoteApp().Run({std::make_unique<RS232c_bios>(), std::make_unique<platform::QtWorker>()}, unused),
                  RemoteApp::kFolderInUse);
        ASSERT_EQ(messages_.texts.size(), 1u);
        EXPECT_NE(messages_.texts[0].find(settings_file::ShownName(folder)), std::string::npos);
        EXPECT_NE(messages_.texts[0].find(std::to_string(QCoreApplication::applicationPid())), std::string::npos);
        EXPECT_EQ(QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        EXPECT_EQ(ReadFile(options_file_name), "not even an options file");
    }
    settings_file::FolderLock next;
    EXPECT_TRUE(next.Take(folder, nullptr));
}

TEST_F(PanelTest, InvalidComNumberFromTheFile) {
    SettingsRecord saved;
    saved.com_port_num = 9;
    WriteOptions(saved);
    Start();
    EXPECT_EQ(messages_.texts,
              std::vector<std::string>{"SetComNumber : COM port number is invalid!\nnumber = 9."});
    EXPECT_EQ(Settings().com_port_num, 9);
    EXPECT_TRUE(SelectedComPorts().empty());
    EXPECT_EQ(ReadFile("dpx20remote.ini"), LiveText());

    // CONNECT cannot use it: refused, box back off, nothing written by CONNECT.
    messages_.texts.clear();
    Click(kConnect);
    EXPECT_EQ(messages_.texts.back(), "RS232C error! : COM port not valid.");
    EXPECT_FALSE(Checked(kConnect));
    EXPECT_FALSE(Wanted());
    EXPECT_TRUE(ports_.empty());

    // Choosing a port mends it.
    Click(ComPortRadio(3));
    EXPECT_EQ(Settings().com_port_num, 3);
    EXPECT_EQ(SelectedComPorts(), std::vector<int>{3});
}

TEST_F(PanelTest, ExitAndEscapeWriteAndSendNothing) {
    WriteOptions(SettingsRecord{});
    Start();
    ConnectQuietly();
    Remove("dpx20remote.ini");
    Click(kExit);
    EXPECT_EQ(panel_->result(), QDialog::Accepted);
    QTest::keyClick(panel_.get(), Qt::Key_Escape);
    EXPECT_FALSE(Exists("dpx20remote.ini"));
    EXPECT_TRUE(box_.History().empty());  // no logoff
    EXPECT_EQ(box_.State().logged_in, true);
}

TEST_F(PanelTest, VersionBoxFromTheButtonAndTheMenuItem) {
    Start();
    Click(kVersionInfo);
    ASSERT_NE(panel_->version_action(), nullptr);
    EXPECT_EQ(panel_->version_action()->text().toStdString(), "dpx20remote のﾊﾞｰｼﾞｮﾝ情報(&A)...");
    panel_->version_action()->trigger();
    EXPECT_EQ(ran_layouts_, (std::vector<int>{res::kLayoutVersionBox, res::kLayoutVersionBox}));
}

}  // namespace
}  // namespace dpx::test
