// The six memories: SAVE writes the whole record, LOAD takes a whole file or nothing, shows
// it, hands the link options over and, while connected, synchronises.
#include "tests/ui/panel_fixture.h"

namespace dpx::test {
namespace {

using namespace panel;
using Words = std::vector<std::string>;

class MemoryTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        WriteOptions(SettingsRecord{});
        Start();
        messages_.texts.clear();
    }
};

SettingsRecord Distinct() {
    SettingsRecord s;
    s.sys_2D3D = 1;
    s.sys_no_ack = 1;
    s.sys_sync_on = 0;
    s.vertual_mode = 0;
    s.debug_mode = 1;
    s.sys_input_select = 2;
    s.sys_3dfmt = 2;
    s.sys_bk_light = -4;
    s.sys_adj3d_mode = 5;
    s.sys_adj3d_para = 31;
    s.sys_save2_inte = 11;
    s.sys_scp_vgain = -3;
    s.com_port_num = 5;
    s.load_adj_only = 1;
    return s;
}

TEST_F(MemoryTest, SaveThenLoadRestoresEveryField) {
    Settings() = Distinct();
    Click(kSave[2]);
    EXPECT_EQ(ReadFile("dpx20remote03.sav"), OptionFileText(Distinct()));
    EXPECT_TRUE(messages_.texts.empty());
    EXPECT_EQ(ReadFile("dpx20remote.ini"), OptionFileText(SettingsRecord{}));  // SAVE writes only its file

    Settings() = SettingsRecord{};
    Click(kLoad[2]);
    EXPECT_TRUE(messages_.texts.empty());
    EXPECT_EQ(Settings(), Distinct());
    EXPECT_EQ(ReadFile("dpx20remote.ini"), OptionFileText(Distinct()));
}

TEST_F(MemoryTest, SlotSixUsesItsOwnFile) {
    Settings().sys_rotate = 1;
    Click(kSave[5]);
    EXPECT_TRUE(Exists("dpx20remote06.sav"));
    Settings().sys_rotate = 0;
    Click(kLoad[5]);
    EXPECT_EQ(Settings().sys_rotate, 1);
}

TEST_F(MemoryTest, LoadWhileDisconnectedTakesPortAndLinkOptionsAndSendsNothing) {
    WriteFile("dpx20remote02.sav", OptionFileText(Distinct()));
    Click(kLoad[1]);
    EXPECT_EQ(Settings(), Distinct());
    EXPECT_EQ(SelectedComPorts(), std::vector<int>{5});
    EXPECT_EQ(link_.State().link_port, 5);
    EXPECT_TRUE(Checked(kNoAck));
    EXPECT_FALSE(Checked(kSyncOn));
    EXPECT_TRUE(Checked(kConversion));
    EXPECT_TRUE(Checked(kAdjustMode));
    EXPECT_EQ(DebugField(), "Debug Mode!");
    EXPECT_EQ(link_.State().link_no_ack, 1);
    EXPECT_EQ(link_.State().link_debug, 1);
    EXPECT_EQ(link_.GetAdjustValues()[0], 31);
    EXPECT_EQ(link_.GetAdjustValues()[7], 11);
    EXPECT_TRUE(ports_.empty());
}

TEST_F(MemoryTest, LoadWhileConnectedKeepsTheLinkOptionsAndSynchronises) {
    Click(kSyncOn);  // automatic synchronisation off: a LOAD synchronises all the same
    ConnectQuietly();
    SettingsRecord file = Distinct();
    file.load_adj_only = 0;
    WriteFile("dpx20remote04.sav", OptionFileText(file));
    Click(kLoad[3]);

    EXPECT_EQ(Settings().com_port_num, 1);
    EXPECT_EQ(Settings().sys_no_ack, 0);
    EXPECT_EQ(Settings().sys_sync_on, 0);
    EXPECT_EQ(Settings().vertual_mode, 0);
    EXPECT_EQ(Settings().debug_mode, 0);
    EXPECT_EQ(Settings().sys_input_select, 2);
    EXPECT_EQ(Settings().sys_adj3d_para, 31);
    EXPECT_EQ(SelectedComPorts(), std::vector<int>{1});
    EXPECT_FALSE(Checked(kNoAck));
    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_EQ(messages_.texts[0].rfind("Update ZR-DPX20 all settings : Compleate!", 0), 0u);
    EXPECT_EQ(box_.State().input_select, 2);
    EXPECT_EQ(box_.State().adjust[0], 31);
    EXPECT_EQ(box_.State().back_light, -4);
}

TEST_F(MemoryTest, AdjustOnlyMemoryWhileConnected) {
    ConnectQuietly();
    SettingsRecord file = Distinct();
    file.sys_input_select = 1;
    WriteFile("dpx20remote01.sav", OptionFileText(file));
    Click(kLoad[0]);
    EXPECT_EQ(ValueWords(), (Words{"CONVE", "ADJPX", "ADJIY", "ADJSI"}));
    EXPECT_EQ(Settings().load_adj_only, 1);
}

TEST_F(MemoryTest, MissingMemoryChangesNothing) {
    Settings().sys_beep = 1;
    const SettingsRecord before = Settings();
    Remove("dpx20remote.ini");
    Click(kLoad[4]);
    EXPECT_EQ(messages_.texts,
              Words{"Do not found option file!\n\n[ file name = dpx20remote05.sav ]"});
    EXPECT_EQ(Settings(), before);
    EXPECT_FALSE(Exists("dpx20remote05.sav"));
    EXPECT_FALSE(Exists("dpx20remote.ini"));
}

TEST_F(MemoryTest, DamagedMemoryLeavesTheLiveSettingsWhole) {
    ConnectQuietly();
    Settings().sys_rotate = 1;
    const SettingsRecord before = Settings();
    // The fields up to the scope mode read well; the later lines lost their "=".
    std::string text = OptionFileText(Distinct());
    const size_t key = text.find("sys_scp_src");
    ASSERT_NE(key, std::string::npos);
    for (size_t i = key; i < text.size(); ++i)
        if (text[i] == '=') text[i] = ' ';
    WriteFile("dpx20remote02.sav", text);

    Click(kLoad[1]);
    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_NE(messages_.texts[0].find("cannot get"), std::string::npos) << messages_.texts[0];
    EXPECT_EQ(Settings(), before);
    EXPECT_FALSE(Checked(kConversion));
    EXPECT_EQ(link_.GetAdjustValues()[0], before.sys_adj3d_para);
    // The reader's rewrite of the options file holds the live settings, not the half-read file.
    EXPECT_EQ(ReadFile("dpx20remote.ini"), OptionFileText(before));
    EXPECT_TRUE(box_.History().empty());  // no synchronisation
}

TEST_F(MemoryTest, InvalidComNumberFromAMemory) {
    SettingsRecord file;
    file.com_port_num = 9;
    WriteFile("dpx20remote01.sav", OptionFileText(file));
    Click(kLoad[0]);
    EXPECT_EQ(messages_.texts,
              Words{"SetComNumber : COM port number is invalid!\nnumber = 9."});
    EXPECT_EQ(Settings().com_port_num, 9);
    EXPECT_TRUE(SelectedComPorts().empty());
    EXPECT_EQ(ReadFile("dpx20remote.ini"), LiveText());
    messages_.texts.clear();
    Click(kConnect);
    EXPECT_EQ(messages_.texts, (Words{"SetComNumber : COM port number is invalid!\nnumber = 9.",
                                      "RS232C error! : COM port not valid."}));
}

}  // namespace
}  // namespace dpx::test
