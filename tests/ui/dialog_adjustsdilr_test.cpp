// The SDI-LR adjust dialog against the in-process box: what opening sends, radio clicks and
// their restore, a code of the other adjust, the split bar at its edges and after a failed
// send, and the closes.
#include <gtest/gtest.h>

#include <QTest>

#include "dialogs/AdjustSdiLrDialog.h"
#include "dialogs/DialogControls.h"
#include "resources/AdjustSdiLrIds.h"
#include "tests/ui/dialog_fixture.h"

namespace dpx::test {
namespace {

using namespace res::adjust_sdilr;
using ui::ScrollRequest;
using Strings = std::vector<std::string>;

const char kModeError[] = "Adjust Mode Select : RS232C error!";
const char kSplitError[] = "On Split Scroll Bar Select : RS232C error!";

// The dialog opens at the SDI-LR input.
class AdjustSdiLrTest : public DialogTest {
protected:
    AdjustSdiLrTest() { record_.sys_input_select = 0; }
    void Open(int32_t mode, int32_t split) {
        Hand(dialog_, {mode, split});
        dialog_.show();
    }
    std::pair<int32_t, int32_t> Values() const {
        const auto [mode, split] = dialog_.GetValues();
        return {mode, split};
    }
    std::vector<int> Radios() const { return Selected(&dialog_, {kOff, kSplitMode, kAnaglyph, kLrSequential}); }

    AdjustSdiLrDialog dialog_{session_};
};

TEST_F(AdjustSdiLrTest, OpeningSendsModeThenSplitAlsoWithModeOff) {
    Open(0, -15);
    EXPECT_EQ(Sent(), (Strings{"ADJUS", "ADJMD 0", "ADJOS -15"}));
    EXPECT_EQ(Radios(), std::vector<int>{kOff});
    EXPECT_EQ(Field(&dialog_, kSplitField), "-15");
    EXPECT_EQ(Bar(&dialog_, kSplitBar), -15);
    EXPECT_EQ(box_.State().split_position, -15);
}

TEST_F(AdjustSdiLrTest, RadioClickSendsOnlyTheMode) {
    Open(2, 5);
    Sent();
    Click(&dialog_, kSplitMode);
    EXPECT_EQ(Sent(), Strings{"ADJMD 1"});
    EXPECT_EQ(Radios(), std::vector<int>{kSplitMode});
    EXPECT_EQ(Values(), std::make_pair(1, 5));
}

TEST_F(AdjustSdiLrTest, FailedRadioClickRestoresTheRadio) {
    Open(3, 0);
    box_.Options().forced_nak["ADJMD"] = 1;
    Click(&dialog_, kAnaglyph);
    EXPECT_EQ(Messages(), Strings{kModeError});
    EXPECT_EQ(Radios(), std::vector<int>{kLrSequential});
    EXPECT_EQ(Values().first, 3);
}

TEST_F(AdjustSdiLrTest, CodeOfTheOtherAdjustIsSentThenShownAsOff) {
    Open(5, 0);
    EXPECT_EQ(Sent(), (Strings{"ADJUS", "ADJMD 5", "ADJOS 0"}));
    EXPECT_EQ(Radios(), std::vector<int>{kOff});
    EXPECT_EQ(Values().first, 0);
}

TEST_F(AdjustSdiLrTest, OpeningWhileLoggedOffShowsBothMessages) {
    Disconnect();
    Open(1, 20);
    EXPECT_EQ(Messages(), (Strings{kModeError, kSplitError}));
    EXPECT_EQ(Radios(), std::vector<int>{kSplitMode});
    EXPECT_EQ(Values(), std::make_pair(1, 20));
}

TEST_F(AdjustSdiLrTest, BarEdgesAndSignedThumb) {
    Open(1, -55);
    Sent();
    Scroll(&dialog_, kSplitBar, ScrollRequest::PageLeft);
    EXPECT_EQ(Sent(), Strings{"ADJOS -60"});
    Scroll(&dialog_, kSplitBar, ScrollRequest::StepLeft);  // at the edge: position equals value
    EXPECT_TRUE(Sent().empty());
    Scroll(&dialog_, kSplitBar, ScrollRequest::ThumbTrack, 12);
    Scroll(&dialog_, kSplitBar, ScrollRequest::ThumbTrack, -200);  // dragged to the far left
    EXPECT_EQ(Sent(), (Strings{"ADJOS 12", "ADJOS -60"}));
    EXPECT_EQ(Field(&dialog_, kSplitField), "-60");
    Scroll(&dialog_, kSplitBar, ScrollRequest::PageRight);
    Scroll(&dialog_, kSplitBar, ScrollRequest::Other);
    EXPECT_EQ(Sent(), Strings{"ADJOS -50"});
    EXPECT_EQ(Bar(&dialog_, kSplitBar), -50);
}

TEST_F(AdjustSdiLrTest, FailedSplitKeepsTheBarAndIsSentAgainAtTheNextRequest) {
    Open(1, 58);
    Sent();
    box_.Options().forced_nak["ADJOS"] = 1;
    Scroll(&dialog_, kSplitBar, ScrollRequest::PageRight);
    EXPECT_EQ(Messages(), Strings{kSplitError});
    EXPECT_EQ(Bar(&dialog_, kSplitBar), 60);
    EXPECT_EQ(Field(&dialog_, kSplitField), "58");
    EXPECT_EQ(Values().second, 58);
    Sent();
    box_.Options().forced_nak.clear();
    Scroll(&dialog_, kSplitBar, ScrollRequest::StepRight);  // clamped to 60, still unlike the value
    EXPECT_EQ(Sent(), Strings{"ADJOS 60"});
    EXPECT_EQ(Field(&dialog_, kSplitField), "60");
}

TEST_F(AdjustSdiLrTest, ExitWithoutAdjustReturnsTheSplitAsLastSetAndModeOff) {
    Open(2, 0);
    Scroll(&dialog_, kSplitBar, ScrollRequest::ThumbTrack, 20);
    Sent();
    Click(&dialog_, kExitWithoutAdjust);
    EXPECT_EQ(Sent(), Strings{"ADJMD 0"});
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(Values(), std::make_pair(0, 20));
}

TEST_F(AdjustSdiLrTest, EscapeWhileLoggedOffClosesWithTheOldMode) {
    Open(3, 0);
    Disconnect();
    QTest::keyClick(&dialog_, Qt::Key_Escape);
    EXPECT_EQ(Messages(), Strings{kModeError});
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(Values().first, 3);
}

TEST_F(AdjustSdiLrTest, ExitWithAdjustChecksTheRange) {
    Open(0, 75);  // refused by the link, so the panel's value stays
    EXPECT_EQ(Messages(), Strings{kSplitError});
    EXPECT_EQ(Field(&dialog_, kSplitField), "75");
    Click(&dialog_, kExitWithAdjust);
    EXPECT_EQ(Messages(), Strings{dialogs::RangePrompt(-60, 60)});
    EXPECT_TRUE(dialog_.isVisible());
    Scroll(&dialog_, kSplitBar, ScrollRequest::StepLeft);  // from the clamped 60 to 59
    Sent();
    Click(&dialog_, kExitWithAdjust);
    EXPECT_TRUE(Sent().empty());
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
    EXPECT_EQ(Values(), std::make_pair(0, 59));
}

}  // namespace
}  // namespace dpx::test
