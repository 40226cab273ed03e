// The panel's 2D-3D switch, its indicator boxes and the buttons that open the control
// dialogs: what each sends before the dialog, what it takes back, and when it saves.
#include "tests/ui/panel_fixture.h"

#include "dialogs/Adjust2D3DDialog.h"
#include "dialogs/AdjustSdiLrDialog.h"
#include "dialogs/FunctionDialog.h"
#include "dialogs/InputSelectDialog.h"
#include "dialogs/OutputPresetDialog.h"
#include "dialogs/ScopeDialog.h"
#include "resources/Adjust2D3DIds.h"
#include "resources/AdjustSdiLrIds.h"
#include "resources/FunctionIds.h"
#include "resources/InputSelectIds.h"
#include "resources/OutputPresetIds.h"
#include "resources/ScopeIds.h"

namespace dpx::test {
namespace {

using namespace panel;
using Words = std::vector<std::string>;

class ControlsTest : public PanelTest {
protected:
    // Starts from `record` as the options file, then forgets the start-up messages.
    void StartWith(const SettingsRecord& record) {
        WriteOptions(record);
        Start();
        messages_.texts.clear();
    }
    // The options file is removed, so that a later write can be seen.
    void ForgetFile() { Remove("dpx20remote.ini"); }
    bool Saved() { return Exists("dpx20remote.ini") && ReadFile("dpx20remote.ini") == LiveText(); }
    // The value bytes of the frames of `word` the box received.
    std::vector<int> ValuesOf(const std::string& word) const {
        std::vector<int> values;
        for (const sim::Exchange& ex : box_.History())
            if (ex.word == word) values.push_back(static_cast<int8_t>(ex.frame[9]));
        return values;
    }
};

SettingsRecord ConversionWithAdjust() {
    SettingsRecord s;
    s.sys_input_select = 1;
    s.sys_2D3D = 1;
    s.sys_adj3d_mode = 4;
    return s;
}

TEST_F(ControlsTest, ConversionOffTurnsAdjustOffFirst) {
    StartWith(ConversionWithAdjust());
    ConnectQuietly();
    box_.MutableState().conversion = 1;
    box_.MutableState().adjust_mode = 4;
    ForgetFile();
    Click(kConversion);
    EXPECT_EQ(ValueWords(), (Words{"ADJMD", "CONVE"}));
    EXPECT_EQ(ValuesOf("ADJMD"), std::vector<int>{0});
    EXPECT_EQ(ValuesOf("CONVE"), std::vector<int>{0});
    EXPECT_EQ(Settings().sys_2D3D, 0);
    EXPECT_EQ(Settings().sys_adj3d_mode, 0);
    EXPECT_FALSE(Checked(kConversion));
    EXPECT_FALSE(Checked(kAdjustMode));
    EXPECT_TRUE(messages_.texts.empty());
    EXPECT_TRUE(Saved());
}

TEST_F(ControlsTest, ConversionFailureRollsTheSwitchBackButAdjustStaysOff) {
    StartWith(ConversionWithAdjust());
    ConnectQuietly();
    box_.Options().forced_nak["CONVE"] = 1;
    ForgetFile();
    Click(kConversion);
    EXPECT_EQ(ValueWords().front(), "ADJMD");
    EXPECT_EQ(messages_.texts, Words{"Set 2D3D on/off : RS232C error!"});
    EXPECT_EQ(Settings().sys_2D3D, 1);
    EXPECT_TRUE(Checked(kConversion));
    EXPECT_EQ(Settings().sys_adj3d_mode, 0);
    EXPECT_FALSE(Checked(kAdjustMode));
    EXPECT_FALSE(Exists("dpx20remote.ini"));
}

TEST_F(ControlsTest, AdjustOffFailureKeepsConversionAndAdjustOn) {
    StartWith(ConversionWithAdjust());
    ConnectQuietly();
    box_.Options().forced_nak["ADJMD"] = 1;
    ForgetFile();
    Click(kConversion);
    EXPECT_EQ(messages_.texts, Words{"Turn off Adjust : RS232C error!"});
    const Words sent = ValueWords();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "CONVE"), 0);
    EXPECT_EQ(Settings().sys_2D3D, 1);
    EXPECT_TRUE(Checked(kConversion));
    EXPECT_EQ(Settings().sys_adj3d_mode, 4);
    EXPECT_TRUE(Checked(kAdjustMode));
    EXPECT_FALSE(Exists("dpx20remote.ini"));
}

TEST_F(ControlsTest, ConversionWhileDisconnectedChangesAndSavesOnly) {
    StartWith(ConversionWithAdjust());
    ForgetFile();
    Click(kConversion);
    EXPECT_EQ(Settings().sys_2D3D, 0);
    EXPECT_EQ(Settings().sys_adj3d_mode, 0);
    EXPECT_TRUE(ports_.empty());
    EXPECT_TRUE(Saved());
}

TEST_F(ControlsTest, SdiLrInputRefusesTheConversion) {
    SettingsRecord s;
    s.sys_input_select = 0;
    StartWith(s);
    ConnectQuietly();
    ForgetFile();
    Click(kConversion);
    EXPECT_EQ(messages_.texts,
              Words{"Cannot Change!\nInput is SDI-LR now, 2D3D conversion is not valid."});
    EXPECT_FALSE(Checked(kConversion));
    EXPECT_EQ(Settings().sys_2D3D, 0);
    EXPECT_TRUE(box_.History().empty());
    EXPECT_FALSE(Exists("dpx20remote.ini"));
}

TEST_F(ControlsTest, ScopeOnlyAtTheSdiLrInput) {
    SettingsRecord s;
    s.sys_input_select = 1;
    s.sys_scp_mode = 1;  // not shown: the input is not SDI-LR
    StartWith(s);
    ForgetFile();
    Click(kScope);
    EXPECT_EQ(messages_.texts, Words{"SCOPE function is only valid at the SDI-LR input."});
    EXPECT_FALSE(Checked(kScope));  // the click does not show
    EXPECT_TRUE(ran_.empty());
    EXPECT_FALSE(Exists("dpx20remote.ini"));
}

TEST_F(ControlsTest, AdjustNeedsTheConversion) {
    SettingsRecord s;
    s.sys_input_select = 1;
    StartWith(s);
    ForgetFile();
    Click(kAdjustMode);
    EXPECT_EQ(messages_.texts, Words{"Cannot Adjust!\nPlease turn on 2D3D conversion first."});
    EXPECT_FALSE(Checked(kAdjustMode));
    EXPECT_TRUE(ran_.empty());
    EXPECT_TRUE(Saved());
}

TEST_F(ControlsTest, AdjustDialogFor2D3DTakesItsFourValues) {
    SettingsRecord s;
    s.sys_input_select = 1;
    s.sys_2D3D = 1;
    StartWith(s);
    ForgetFile();
    on_dialog_ = [](ui::LayoutDialog& dialog) {
        auto* d = dynamic_cast<Adjust2D3DDialog*>(&dialog);
        ASSERT_NE(d, nullptr);
        const auto [mode, para, inte, subi] = d->GetValues();
        EXPECT_EQ(mode, 0);
        EXPECT_EQ(para, 13);
        EXPECT_EQ(inte, 23);
        EXPECT_EQ(subi, 40);
        d->SetValues({6, 20, 30, 50});
    };
    Click(kAdjustMode);
    EXPECT_EQ(ran_, Words{"dpx::Adjust2D3DDialog"});
    EXPECT_EQ(Settings().sys_adj3d_mode, 6);
    EXPECT_EQ(Settings().sys_adj3d_para, 20);
    EXPECT_EQ(Settings().sys_adj3d_inte, 30);
    EXPECT_EQ(Settings().sys_adj3d_subi, 50);
    EXPECT_TRUE(Checked(kAdjustMode));
    EXPECT_TRUE(Saved());

    // Closed with adjust mode off: the box shows off, whatever the click did.
    on_dialog_ = [](ui::LayoutDialog& dialog) {
        dynamic_cast<Adjust2D3DDialog&>(dialog).SetValues({0, 20, 30, 50});
    };
    Click(kAdjustMode);
    EXPECT_FALSE(Checked(kAdjustMode));
}

TEST_F(ControlsTest, SdiLrAdjustTurnsTheScopeOffAndOpensItsDialog) {
    SettingsRecord s;
    s.sys_input_select = 0;
    s.sys_scp_mode = 2;
    StartWith(s);
    ASSERT_TRUE(Checked(kScope));
    ConnectQuietly();
    ForgetFile();
    on_dialog_ = [](ui::LayoutDialog& dialog) {
        auto* d = dynamic_cast<AdjustSdiLrDialog*>(&dialog);
        ASSERT_NE(d, nullptr);
        d->SetValues({2, -12});
    };
    Click(kAdjustMode);
    EXPECT_EQ(ValueWords(), Words{"SCMOD"});
    EXPECT_EQ(ValuesOf("SCMOD"), std::vector<int>{0});
    EXPECT_FALSE(Checked(kScope));
    EXPECT_EQ(Settings().sys_scp_mode, 0);
    EXPECT_EQ(Settings().sys_LRadj_mode, 2);
    EXPECT_EQ(Settings().sys_LRadj_split, -12);
    EXPECT_TRUE(Checked(kAdjustMode));
    EXPECT_TRUE(Saved());
}

TEST_F(ControlsTest, ScopeOffFailureKeepsTheScopeButTheDialogOpens) {
    SettingsRecord s;
    s.sys_input_select = 0;
    s.sys_scp_mode = 2;
    StartWith(s);
    ConnectQuietly();
    box_.Options().forced_nak["SCMOD"] = 1;
    Click(kAdjustMode);
    EXPECT_EQ(messages_.texts, Words{"Turn off Scope : RS232C error!"});
    EXPECT_TRUE(Checked(kScope));
    EXPECT_EQ(Settings().sys_scp_mode, 2);
    EXPECT_EQ(ran_, Words{"dpx::AdjustSdiLrDialog"});
}

TEST_F(ControlsTest, ControlsWhileDisconnectedSendNothingButOpenTheirDialogs) {
    SettingsRecord s;
    s.sys_input_select = 0;
    s.sys_LRadj_mode = 1;
    StartWith(s);
    Click(kAdjustMode);
    Click(kScope);
    Click(kInputSelect);
    EXPECT_EQ(ran_, (Words{"dpx::AdjustSdiLrDialog", "dpx::ScopeDialog", "dpx::InputSelectDialog"}));
    EXPECT_TRUE(ports_.empty());
    EXPECT_TRUE(messages_.texts.empty());
    EXPECT_EQ(Settings().sys_LRadj_mode, 0);  // SCOPE turned the SDI-LR adjust off
}

TEST_F(ControlsTest, ScopeTurnsAdjustOffAndTakesSixValues) {
    SettingsRecord s;
    s.sys_input_select = 0;
    s.sys_LRadj_mode = 3;
    StartWith(s);
    ASSERT_TRUE(Checked(kAdjustMode));
    ConnectQuietly();
    ForgetFile();
    on_dialog_ = [](ui::LayoutDialog& dialog) {
        auto* d = dynamic_cast<ScopeDialog*>(&dialog);
        ASSERT_NE(d, nullptr);
        d->SetValues({1, 2, 1, 1, -9, 8});
    };
    Click(kScope);
    EXPECT_EQ(ValueWords(), Words{"ADJMD"});
    EXPECT_FALSE(Checked(kAdjustMode));
    EXPECT_EQ(Settings().sys_LRadj_mode, 0);
    EXPECT_EQ(Settings().sys_scp_mode, 1);
    EXPECT_EQ(Settings().sys_scp_src, 2);
    EXPECT_EQ(Settings().sys_scp_wgain, -9);
    EXPECT_EQ(Settings().sys_scp_vgain, 8);
    EXPECT_TRUE(Checked(kScope));
    EXPECT_TRUE(Saved());
}

TEST_F(ControlsTest, ScopeWithAdjustOffFailureKeepsAdjustAndOpens) {
    SettingsRecord s;
    s.sys_input_select = 0;
    s.sys_LRadj_mode = 3;
    StartWith(s);
    ConnectQuietly();
    box_.Options().forced_nak["ADJMD"] = 1;
    Click(kScope);
    EXPECT_EQ(messages_.texts, Words{"Turn off Adjust : RS232C error!"});
    EXPECT_TRUE(Checked(kAdjustMode));
    EXPECT_EQ(Settings().sys_LRadj_mode, 3);
    EXPECT_EQ(ran_, Words{"dpx::ScopeDialog"});
}

TEST_F(ControlsTest, InputSelectToSdiLrEndsConversionAdjustAndScope) {
    StartWith(ConversionWithAdjust());
    ConnectQuietly();
    ForgetFile();
    on_dialog_ = [](ui::LayoutDialog& dialog) {
        auto* d = dynamic_cast<InputSelectDialog*>(&dialog);
        ASSERT_NE(d, nullptr);
        d->SetValues({0, 1});
    };
    Click(kInputSelect);
    EXPECT_EQ(ValueWords(), Words{"ADJMD"});  // conversion and scope go off without a frame
    EXPECT_EQ(Settings().sys_input_select, 0);
    EXPECT_EQ(Settings().sys_input_porality, 1);
    EXPECT_EQ(Settings().sys_2D3D, 0);
    EXPECT_EQ(Settings().sys_adj3d_mode, 0);
    EXPECT_FALSE(Checked(kConversion));
    EXPECT_FALSE(Checked(kAdjustMode));
    EXPECT_FALSE(Checked(kScope));
    EXPECT_TRUE(Saved());
}

TEST_F(ControlsTest, OutputPresetAndFunctionTakeTheirValues) {
    StartWith(SettingsRecord{});
    ForgetFile();
    on_dialog_ = [](ui::LayoutDialog& dialog) {
        dynamic_cast<OutputPresetDialog&>(dialog).SetValues({1, 2, 3});
    };
    Click(kOutputPreset);
    EXPECT_EQ(Settings().sys_sdi_mix, 1);
    EXPECT_EQ(Settings().sys_hdmi_mix, 2);
    EXPECT_EQ(Settings().sys_3dfmt, 3);
    EXPECT_TRUE(Saved());

    ForgetFile();
    on_dialog_ = [this](ui::LayoutDialog& dialog) {
        dynamic_cast<FunctionDialog&>(dialog).SetValues({1, 0, 1, -7});
        // A memory load in the dialog changes the link's mirror of the adjust values.
        link_.SetAdjustValues({1, 2, 3, 4, 5, 6, 7, 8, 9});
    };
    Click(kFunction);
    EXPECT_EQ(Settings().sys_rotate, 1);
    EXPECT_EQ(Settings().sys_f_sync, 0);
    EXPECT_EQ(Settings().sys_beep, 1);
    EXPECT_EQ(Settings().sys_bk_light, -7);
    EXPECT_EQ(Settings().sys_adj3d_para, 1);
    EXPECT_EQ(Settings().sys_adj3d_subi, 3);
    EXPECT_EQ(Settings().sys_save1_para, 4);
    EXPECT_EQ(Settings().sys_save2_subi, 9);
    EXPECT_TRUE(Saved());
}

TEST_F(ControlsTest, LinkOptionBoxesAndTheHiddenDebugBox) {
    StartWith(SettingsRecord{});
    Click(kNoAck);
    EXPECT_EQ(Settings().sys_no_ack, 1);
    EXPECT_EQ(link_.State().link_no_ack, 1);
    EXPECT_TRUE(Saved());
    Click(kNoAck);
    EXPECT_EQ(link_.State().link_no_ack, 0);
    Click(kSyncOn);
    EXPECT_EQ(Settings().sys_sync_on, 0);
    EXPECT_TRUE(Saved());

    // The hidden box cannot be clicked; its handler follows its state.
    QAbstractButton* debug = Button(kDebugBox);
    ASSERT_NE(debug, nullptr);
    EXPECT_TRUE(debug->isHidden());
    EXPECT_FALSE(debug->isEnabled());
    debug->setChecked(true);
    panel_->DebugBoxHandler();
    EXPECT_EQ(Settings().debug_mode, 1);
    EXPECT_EQ(link_.State().link_debug, 1);
    EXPECT_EQ(DebugField(), "Debug Mode!");
    EXPECT_TRUE(Saved());
}

// An open dialog shows at once what the control API changes, sends nothing for it, and
// leaves the change in the settings when it closes.
TEST_F(ControlsTest, OpenDialogsShowWhatTheApiChanges) {
    struct Case {
        int button;
        int32_t input;
        int32_t SettingsRecord::*field;
        int32_t value;
        int radio;  // the radio that shows the value, or 0
        int bar;    // else the bar that does
    };
    const Case cases[] = {
        {kScope, 0, &SettingsRecord::sys_scp_pos, 2, res::scope::kLeftUpper, 0},
        {kAdjustMode, 0, &SettingsRecord::sys_LRadj_split, -5, 0, res::adjust_sdilr::kSplitBar},
        {kAdjustMode, 1, &SettingsRecord::sys_adj3d_para, 12, 0, res::adjust2d3d::kParallaxBar},
        {kInputSelect, 1, &SettingsRecord::sys_input_porality, 1, res::input_select::kInvert, 0},
        {kOutputPreset, 1, &SettingsRecord::sys_3dfmt, 3, res::output_preset::kCheckerBoard, 0},
        {kFunction, 1, &SettingsRecord::sys_bk_light, 7, 0, res::function::kBackLightBar},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(SettingOf(c.field).key);
        SettingsRecord start = ConversionWithAdjust();
        start.sys_input_select = c.input;
        start.sys_2D3D = c.input != 0;
        StartWith(start);
        ConnectQuietly();
        bool shown = false;
        on_dialog_ = [&](ui::LayoutDialog& dialog) {
            ASSERT_TRUE(panel_->BoxSession().Change({{&SettingOf(c.field), c.value}}, Source::kApi).ok);
            box_.ClearHistory();
            if (c.radio) shown = ui::IsRadioSelected(&dialog, c.radio);
            else shown = ui::Control<QScrollBar>(&dialog, c.bar)->value() == c.value;
            EXPECT_EQ(ValueWords(), Words{});
        };
        Click(c.button);
        EXPECT_TRUE(shown);
        EXPECT_EQ(Settings().*c.field, c.value);
    }
}

}  // namespace
}  // namespace dpx::test
