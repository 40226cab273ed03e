// The scope dialog against the in-process box: the six values opening sends, the position
// square's codes, restore after failures, unlisted codes, the gain bars and the closes.
#include <gtest/gtest.h>

#include <QTest>
#include <array>

#include "dialogs/DialogControls.h"
#include "dialogs/ScopeDialog.h"
#include "resources/ScopeIds.h"
#include "tests/ui/dialog_fixture.h"

namespace dpx::test {
namespace {

using namespace res::scope;
using ui::ScrollRequest;
using Strings = std::vector<std::string>;
using Six = std::array<int32_t, 6>;

// The dialog opens at the SDI-LR input.
class ScopeTest : public DialogTest {
protected:
    ScopeTest() { record_.sys_input_select = 0; }
    void Open(const Six& v) {
        Hand(dialog_, {v[0], v[1], v[2], v[3], v[4], v[5]});
        dialog_.show();
    }
    Six Values() const {
        const auto [mode, signal, position, filter, wfm_gain, vector_gain] = dialog_.GetValues();
        return {mode, signal, position, filter, wfm_gain, vector_gain};
    }
    std::vector<int> Radios() const {
        return Selected(&dialog_, {kModeOff, kWfm, kVectorScope, kParallel, kBalance, kIn1, kIn2, kRightLower,
                                   kLeftLower, kLeftUpper, kRightUpper, kFlat, kLowPass});
    }

    ScopeDialog dialog_{session_};
};

TEST_F(ScopeTest, OpeningSendsAllSixInOrder) {
    Open({1, 3, 2, 1, -12, 30});
    EXPECT_EQ(Sent(), (Strings{"SCOPE", "SCMOD 1", "SCSIG 3", "SCPOS 2", "SCPFI 1", "SCWFG -12", "SCVEG 30"}));
    EXPECT_EQ(Radios(), (std::vector<int>{kWfm, kIn2, kLeftUpper, kLowPass}));
    EXPECT_EQ(Field(&dialog_, kWfmField), "-12");
    EXPECT_EQ(Field(&dialog_, kVectorField), "30");
    EXPECT_EQ(Bar(&dialog_, kWfmBar), -12);
    EXPECT_EQ(box_.State().wfm_gain, -12);
}

TEST_F(ScopeTest, ClickSendsOnlyItsChoiceAndPositionCodesFollowTheirCorners) {
    Open({0, 0, 0, 0, 0, 0});
    Sent();
    const std::pair<int, std::string> clicks[] = {
        {kLeftUpper, "SCPOS 2"}, {kRightUpper, "SCPOS 3"}, {kLeftLower, "SCPOS 1"},
        {kRightLower, "SCPOS 0"}, {kVectorScope, "SCMOD 2"}, {kBalance, "SCSIG 1"}, {kLowPass, "SCPFI 1"}};
    for (const auto& [id, frame] : clicks) {
        Click(&dialog_, id);
        EXPECT_EQ(Sent(), Strings{frame}) << id;
    }
    EXPECT_EQ(Values(), (Six{2, 1, 0, 1, 0, 0}));
    EXPECT_EQ(Radios(), (std::vector<int>{kVectorScope, kBalance, kRightLower, kLowPass}));
}

TEST_F(ScopeTest, FailedClickRestoresItsGroupOnly) {
    Open({1, 2, 3, 0, 0, 0});
    box_.Options().forced_nak["SCSIG"] = 1;
    Click(&dialog_, kParallel);
    EXPECT_EQ(Messages(), Strings{"Scope Source Select : RS232C error!"});
    EXPECT_EQ(Radios(), (std::vector<int>{kWfm, kIn1, kRightUpper, kFlat}));
    EXPECT_EQ(Values(), (Six{1, 2, 3, 0, 0, 0}));
}

TEST_F(ScopeTest, UnlistedPositionIsSentThenShownAsRightLower) {
    Open({0, 0, 7, 0, 0, 0});
    EXPECT_EQ(Sent(), (Strings{"SCOPE", "SCMOD 0", "SCSIG 0", "SCPOS 7", "SCPFI 0", "SCWFG 0", "SCVEG 0"}));
    EXPECT_EQ(Messages(), Strings{"Scope Position Select : RS232C error!"});  // the box refuses 7
    EXPECT_TRUE(ui::IsRadioSelected(&dialog_, kRightLower));
    EXPECT_EQ(Values()[2], 0);
}

TEST_F(ScopeTest, UnlistedCodesInVirtualModeBecomeTheFirstRadios) {
    link_.SetVirtualMode(1);
    Open({9, -1, 7, 2, 0, 0});
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Radios(), (std::vector<int>{kModeOff, kParallel, kRightLower, kFlat}));
    EXPECT_EQ(Values(), (Six{0, 0, 0, 0, 0, 0}));
}

TEST_F(ScopeTest, OpeningWhileLoggedOffShowsSixMessagesInOrder) {
    Disconnect();
    Open({2, 1, 1, 1, 5, 6});
    EXPECT_EQ(Messages(), (Strings{"Scope Mode Select : RS232C error!", "Scope Source Select : RS232C error!",
                                   "Scope Position Select : RS232C error!", "Scope Filter Select : RS232C error!",
                                   "W.F.M. Gain Scroll Bar Select : RS232C error!",
                                   "Vector Scope Gain Scroll Bar Select : RS232C error!"}));
    EXPECT_EQ(Values(), (Six{2, 1, 1, 1, 5, 6}));
    EXPECT_EQ(Radios(), (std::vector<int>{kVectorScope, kBalance, kLeftLower, kLowPass}));
}

TEST_F(ScopeTest, GainBarsWithScopeOff) {
    Open({0, 0, 0, 0, -25, 25});
    Sent();
    Scroll(&dialog_, kWfmBar, ScrollRequest::PageLeft);
    Scroll(&dialog_, kVectorBar, ScrollRequest::PageRight);
    EXPECT_EQ(Sent(), (Strings{"SCWFG -30", "SCVEG 30"}));
    Scroll(&dialog_, kWfmBar, ScrollRequest::ThumbTrack, 3);
    Scroll(&dialog_, kWfmBar, ScrollRequest::ThumbTrack, -100);
    Scroll(&dialog_, kVectorBar, ScrollRequest::Other);
    EXPECT_EQ(Sent(), (Strings{"SCWFG 3", "SCWFG -30"}));
    EXPECT_EQ(Field(&dialog_, kWfmField), "-30");
    EXPECT_EQ(Values(), (Six{0, 0, 0, 0, -30, 30}));
}

TEST_F(ScopeTest, FailedGainIsSentAgainAtARequestOnTheOtherBar) {
    Open({1, 0, 0, 0, 0, 0});
    Sent();
    box_.Options().forced_nak["SCWFG"] = 1;
    Scroll(&dialog_, kWfmBar, ScrollRequest::StepRight);
    EXPECT_EQ(Messages(), Strings{"W.F.M. Gain Scroll Bar Select : RS232C error!"});
    EXPECT_EQ(Field(&dialog_, kWfmField), "0");
    Sent();
    box_.Options().forced_nak.clear();
    Scroll(&dialog_, kVectorBar, ScrollRequest::StepLeft);
    EXPECT_EQ(Sent(), (Strings{"SCWFG 1", "SCVEG -1"}));
    EXPECT_EQ(Values(), (Six{1, 0, 0, 0, 1, -1}));
}

TEST_F(ScopeTest, ExitWithoutScopeSwitchesOffOnlyTheMode) {
    Open({2, 1, 3, 1, 4, 5});
    Click(&dialog_, kIn2);
    Sent();
    Click(&dialog_, kExitWithoutScope);
    EXPECT_EQ(Sent(), Strings{"SCMOD 0"});
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(Values(), (Six{0, 3, 3, 1, 4, 5}));
}

TEST_F(ScopeTest, CloseBoxWhileLoggedOffClosesWithTheOldMode) {
    Open({1, 0, 0, 0, 0, 0});
    Disconnect();
    dialog_.close();
    EXPECT_EQ(Messages(), Strings{"Scope Mode Select : RS232C error!"});
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(Values()[0], 1);
}

TEST_F(ScopeTest, ExitWithScopeChecksBothGains) {
    Open({1, 0, 0, 0, 0, -31});
    EXPECT_EQ(Messages(), Strings{"Vector Scope Gain Scroll Bar Select : RS232C error!"});
    Sent();
    QTest::keyClick(ui::Control<QWidget>(&dialog_, kExitWithScope), Qt::Key_Enter);  // the default button
    Click(&dialog_, kExitWithScope);
    EXPECT_EQ(Messages(), (Strings{dialogs::RangePrompt(-30, 30), dialogs::RangePrompt(-30, 30)}));
    EXPECT_TRUE(dialog_.isVisible());
    Scroll(&dialog_, kVectorBar, ScrollRequest::StepRight);  // from the clamped -30 to -29
    Click(&dialog_, kExitWithScope);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
    EXPECT_EQ(Sent(), Strings{"SCVEG -29"});
}

}  // namespace
}  // namespace dpx::test
