// A change of settings planned by the box's rules, as every front door makes it: the commands
// the box receives, the refusals (nothing sent, nothing changed) and the record afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/RS232c_bios.h"
#include "session/Change.h"
#include "settings/OptionFile.h"
#include "tests/support/ConnectedBoxTest.h"

namespace dpx {
namespace {

using R = SettingsRecord;
using Commands = std::vector<int>;

const Setting* Of(int32_t R::*field) { return &SettingOf(field); }

using ChangeTest = test::ConnectedBoxTest;

TEST_F(ChangeTest, RulesDecideTheCommandsAndTheRefusals) {
    struct Case {
        const char* name;
        void (*prepare)(R&);
        SettingValues values;
        const char* refusal;  // nullptr: accepted
        Commands sent;
        void (*check)(const R&);
    };
    const Case cases[] = {
        {"2D-3D on at the SDI-LR input", [](R& r) { r.sys_input_select = rules::kInputSdiLr; },
         {{Of(&R::sys_2D3D), 1}}, rules::kSdiLrForbidsConversion, {}, [](const R& r) { EXPECT_EQ(r.sys_2D3D, 0); }},
        {"SDI-LR given first in the same change", [](R&) {},
         {{Of(&R::sys_input_select), rules::kInputSdiLr}, {Of(&R::sys_2D3D), 1}}, rules::kSdiLrForbidsConversion, {},
         [](const R& r) { EXPECT_NE(r.sys_input_select, rules::kInputSdiLr); }},
        {"2D-3D off turns adjust off first",
         [](R& r) { r.sys_input_select = 1; r.sys_2D3D = 1; r.sys_adj3d_mode = 4; },
         {{Of(&R::sys_2D3D), 0}}, nullptr, {kADJMD, kCONVE},
         [](const R& r) { EXPECT_EQ(r.sys_adj3d_mode, 0); EXPECT_EQ(r.sys_2D3D, 0); }},
        {"2D-3D off with adjust off sends the conversion alone",
         [](R& r) { r.sys_input_select = 1; r.sys_2D3D = 1; }, {{Of(&R::sys_2D3D), 0}}, nullptr, {kCONVE},
         [](const R&) {}},
        {"input SDI-LR: adjust off, then the input; scope and 2D-3D follow unsent",
         [](R& r) { r.sys_input_select = 1; r.sys_2D3D = 1; r.sys_adj3d_mode = 4; r.sys_scp_mode = 1; },
         {{Of(&R::sys_input_select), rules::kInputSdiLr}}, nullptr, {kADJMD, kINPSE},
         [](const R& r) { EXPECT_EQ(r.sys_2D3D, 0); EXPECT_EQ(r.sys_scp_mode, 0); EXPECT_EQ(r.sys_adj3d_mode, 0); }},
        {"a scope setting turns adjust off first",
         [](R& r) { r.sys_input_select = rules::kInputSdiLr; r.sys_LRadj_mode = 1; }, {{Of(&R::sys_scp_pos), 1}},
         nullptr, {kADJMD, kSCPOS}, [](const R& r) { EXPECT_EQ(r.sys_LRadj_mode, 0); }},
        {"INDIVIDUAL output under ABOVE-BELOW", [](R& r) { r.sys_3dfmt = rules::kFormatAboveBelow; },
         {{Of(&R::sys_hdmi_mix), rules::kOutputIndividual}}, rules::kFormatForbidsIndividual, {}, [](const R&) {}},
        {"ABOVE-BELOW with an INDIVIDUAL output", [](R& r) { r.sys_sdi_mix = rules::kOutputIndividual; },
         {{Of(&R::sys_3dfmt), rules::kFormatAboveBelow}}, rules::kIndividualForbidsFormat, {}, [](const R&) {}},
        {"ABOVE-BELOW sends both outputs as MIX first", [](R&) {},
         {{Of(&R::sys_3dfmt), rules::kFormatAboveBelow}}, nullptr, {kSDIMX, kHDMIM, k3DFOR}, [](const R&) {}},
        {"the scope away from the SDI-LR input", [](R& r) { r.sys_input_select = 1; }, {{Of(&R::sys_scp_mode), 1}},
         rules::kScopeOnlyAtSdiLr, {}, [](const R& r) { EXPECT_EQ(r.sys_scp_mode, 0); }},
        {"SDI-LR given first lets the scope through", [](R&) {},
         {{Of(&R::sys_input_select), rules::kInputSdiLr}, {Of(&R::sys_scp_src), 2}}, nullptr, {kINPSE, kSCSIG},
         [](const R& r) { EXPECT_EQ(r.sys_scp_src, 2); }},
        {"the 2D-3D adjust with the conversion off", [](R& r) { r.sys_input_select = 1; },
         {{Of(&R::sys_adj3d_mode), 4}}, rules::kAdjustNeedsConversion, {}, [](const R&) {}},
        {"the 2D-3D adjust at the SDI-LR input", [](R& r) { r.sys_input_select = rules::kInputSdiLr; },
         {{Of(&R::sys_adj3d_para), 9}}, rules::kAdjustNeedsConversion, {}, [](const R&) {}},
        {"the SDI-LR adjust at another input", [](R& r) { r.sys_input_select = 2; },
         {{Of(&R::sys_LRadj_split), 5}}, rules::kSdiLrAdjustOnlyAtSdiLr, {}, [](const R&) {}},
        {"an adjust value with the adjust view off is only kept", [](R& r) { r.sys_input_select = 1; r.sys_2D3D = 1; },
         {{Of(&R::sys_adj3d_para), 9}}, nullptr, {}, [](const R& r) { EXPECT_EQ(r.sys_adj3d_para, 9); }},
        {"an adjust value with the view on is sent", [](R& r) { r.sys_input_select = 1; r.sys_2D3D = 1; r.sys_adj3d_mode = 6; },
         {{Of(&R::sys_adj3d_inte), 9}}, nullptr, {kADJIY}, [](const R& r) { EXPECT_EQ(r.sys_adj3d_inte, 9); }},
        {"the view and a value in one change", [](R& r) { r.sys_input_select = 1; r.sys_2D3D = 1; },
         {{Of(&R::sys_adj3d_mode), 4}, {Of(&R::sys_adj3d_para), 9}}, nullptr, {kADJMD, kADJPX}, [](const R&) {}},
        {"a setting without a rule is sent alone", [](R&) {}, {{Of(&R::sys_beep), 1}}, nullptr, {kBEEPA},
         [](const R& r) { EXPECT_EQ(r.sys_beep, 1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        box_.ClearHistory();
        R record;
        c.prepare(record);
        const R before = record;
        const ChangeResult change = ApplyChange(link_, record, c.values);
        if (c.refusal) {
            EXPECT_TRUE(change.refused);
            EXPECT_EQ(change.error, c.refusal);
            EXPECT_EQ(OptionFileText(record), OptionFileText(before));
        } else {
            EXPECT_TRUE(change.ok) << change.error;
        }
        EXPECT_EQ(ValueCommands(), c.sent);
        c.check(record);
        // A tool that does not know the box's settings plans the same way from a default record.
        std::string refusal;
        PlanValues(before, c.values, &refusal);
        EXPECT_EQ(refusal, c.refusal ? c.refusal : "");
    }
}

// What a box given a record by a full synchronisation holds by itself.
TEST(SettleTest, TheRecordHoldsOnlyWhatTheBoxCanHold) {
    struct Case {
        const char* name;
        void (*prepare)(R&);
        void (*check)(const R&);
    };
    const Case cases[] = {
        {"no 2D-3D nor its adjust at SDI-LR",
         [](R& r) { r.sys_input_select = rules::kInputSdiLr; r.sys_2D3D = 1; r.sys_adj3d_mode = 4; r.sys_scp_mode = 1; },
         [](const R& r) { EXPECT_EQ(r.sys_2D3D, 0); EXPECT_EQ(r.sys_adj3d_mode, 0); EXPECT_EQ(r.sys_scp_mode, 1); }},
        {"no scope under the SDI-LR adjust",
         [](R& r) { r.sys_input_select = rules::kInputSdiLr; r.sys_LRadj_mode = 2; r.sys_scp_mode = 1; },
         [](const R& r) { EXPECT_EQ(r.sys_scp_mode, 0); EXPECT_EQ(r.sys_LRadj_mode, 2); }},
        {"neither scope nor SDI-LR adjust at another input",
         [](R& r) { r.sys_input_select = 3; r.sys_LRadj_mode = 2; r.sys_scp_mode = 1; r.sys_2D3D = 1; r.sys_adj3d_mode = 6; },
         [](const R& r) { EXPECT_EQ(r.sys_scp_mode, 0); EXPECT_EQ(r.sys_LRadj_mode, 0); EXPECT_EQ(r.sys_adj3d_mode, 6); }},
        {"no 2D-3D adjust without the conversion", [](R& r) { r.sys_input_select = 3; r.sys_adj3d_mode = 6; },
         [](const R& r) { EXPECT_EQ(r.sys_adj3d_mode, 0); }},
        {"an adjust-only synchronisation sends no input: nothing follows",
         [](R& r) { r.load_adj_only = 1; r.sys_input_select = rules::kInputSdiLr; r.sys_2D3D = 1; },
         [](const R& r) { EXPECT_EQ(r.sys_2D3D, 1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        R given;
        c.prepare(given);
        R r = given;
        rules::Settle(r);
        c.check(r);
        // What is dropped is what no pass sends: the synchronisation's steps stay the same.
        const auto steps = [](const R& record) {
            std::vector<std::pair<const Setting*, int32_t>> out;
            for (const SyncItem& item : PassSteps(record)) out.emplace_back(item.setting, item.value);
            return out;
        };
        EXPECT_EQ(steps(r), steps(given));
    }
}

// A send that fails stops the change there; a rule's own send fails with the rule's text.
TEST_F(ChangeTest, AFailedSendStopsTheChangeWithItsText) {
    R record;
    record.sys_input_select = 1;
    record.sys_2D3D = 1;
    record.sys_adj3d_mode = 4;
    box_.Options().forced_nak["ADJMD"] = 1;
    const ChangeResult change = ApplyChange(link_, record, {{Of(&R::sys_2D3D), 0}});
    EXPECT_FALSE(change.ok);
    EXPECT_FALSE(change.refused);
    EXPECT_EQ(change.error, rules::kTurnOffAdjustFailed);
    ASSERT_TRUE(change.failed);
    EXPECT_EQ(change.failed->setting, Of(&R::sys_adj3d_mode));
    EXPECT_EQ(record.sys_2D3D, 1);
    const Commands sent = ValueCommands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), kCONVE), 0);
}

}  // namespace
}  // namespace dpx
