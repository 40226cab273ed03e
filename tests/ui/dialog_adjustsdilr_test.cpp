// The SDI-LR adjust dialog against the in-process box: what opening sends, radio clicks and
// their restore, a code of the other adjust, the split bar at its edges and after a failed
// send, and the closes.
#include <gtest/gtest.h>

#include <QTest>

#include "dialogs/AdjustSdiLrDialog.h"
#include "dialogs/DialogControls.h"
#include "tests/ui/dialog_fixture.h"

namespace dpx::test {
namespace {

using ui::ScrollRequest;
using Strings = std::vector<std::string>;

constexpr int kOff = 1010, kSplit = 1011, kAnaglyph = 1012, kLrSeq = 1013;
constexpr int kBar = 1020, kField = 1019;
const char kModeError[] = "Adjust Mode Select : RS232C error!";
const char kSplitError[] = "On Split Scroll Bar Select : RS232C error!";

class AdjustSdiLrTest : public DialogTest {
protected:
    void Open(int32_t mode, int32_t split) {
        dialog_.SetValues(mode, split);
        dialog_.show();
    }
    std::pair<int32_t, int32_t> Values() const {
        int32_t mode = -99, split = -99;
        dialog_.GetValues(&mode, &split);
        return {mode, split};
    }
    std::vector<int> Radios() const { return Selected(&dialog_, {kOff, kSplit, kAnaglyph, kLrSeq}); }

    AdjustSdiLrDialog dialog_;
};

TEST_F(AdjustSdiLrTest, OpeningSendsModeThenSplitAlsoWithModeOff) {
    Open(0, -15);
    EXPECT_EQ(Sent(), (Strings{"ADJUS", "ADJMD 0", "ADJOS -15"}));
    EXPECT_EQ(Radios(), std::vector<int>{kOff});
    EXPECT_EQ(Field(&dialog_, kField), "-15");
    EXPECT_EQ(Bar(&dialog_, kBar), -15);
    EXPECT_EQ(box_.State().split_position, -15);
}

TEST_F(AdjustSdiLrTest, RadioClickSendsOnlyTheMode) {
    Open(2, 5);
    Sent();
    Click(&dialog_, kSplit);
    EXPECT_EQ(Sent(), Strings{"ADJMD 1"});
    EXPECT_EQ(Radios(), std::vector<int>{kSplit});
    EXPECT_EQ(Values(), std::make_pair(1, 5));
}

TEST_F(AdjustSdiLrTest, FailedRadioClickRestoresTheRadio) {
    Open(3, 0);
    box_.Options().forced_nak["ADJMD"] = 1;
    Click(&dialog_, kAnaglyph);
    EXPECT_EQ(Messages(), Strings{kModeError});
    EXPECT_EQ(Radios(), std::vector<int>{kLrSeq});
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
    EXPECT_EQ(Radios(), std::vector<int>{kSplit});
    EXPECT_EQ(Values(), std::make_pair(1, 20));
}

TEST_F(AdjustSdiLrTest, BarEdgesAndSignedThumb) {
    Open(1, -55);
    Sent();
    Scroll(&dialog_, kBar, ScrollRequest::PageLeft);
    EXPECT_EQ(Sent(), Strings{"ADJOS -60"});
    Scroll(&dialog_, kBar, ScrollRequest::StepLeft);  // at the edge: position equals value
    EXPECT_TRUE(Sent().empty());
    Scroll(&dialog_, kBar, ScrollRequest::ThumbTrack, 12);
    Scroll(&dialog_, kBar, ScrollRequest::ThumbTrack, -200);  // dragged to the far left
    EXPECT_EQ(Sent(), (Strings{"ADJOS 12", "ADJOS -60"}));
    EXPECT_EQ(Field(&dialog_, kField), "-60");
    Scroll(&dialog_, kBar, ScrollRequest::PageRight);
    Scroll(&dialog_, kBar, ScrollRequest::Other);
    EXPECT_EQ(Sent(), Strings{"ADJOS -50"});
    EXPECT_EQ(Bar(&dialog_, kBar), -50);
}

TEST_F(AdjustSdiLrTest, FailedSplitKeepsTheBarAndIsSentAgainAtTheNextRequest) {
    Open(1, 58);
    Sent();
    box_.Options().forced_nak["ADJOS"] = 1;
    Scroll(&dialog_, kBar, ScrollRequest::PageRight);
    EXPECT_EQ(Messages(), Strings{kSplitError});
    EXPECT_EQ(Bar(&dialog_, kBar), 60);
    EXPECT_EQ(Field(&dialog_, kField), "58");
    EXPECT_EQ(Values().second, 58);
    Sent();
    box_.Options().forced_nak.clear();
    Scroll(&dialog_, kBar, ScrollRequest::StepRight);  // clamped to 60, still unlike the value
    EXPECT_EQ(Sent(), Strings{"ADJOS 60"});
    EXPECT_EQ(Field(&dialog_, kField), "60");
}

TEST_F(AdjustSdiLrTest, ExitWithoutAdjustReturnsTheSplitAsLastSetAndModeOff) {
    Open(2, 0);
    Scroll(&dialog_, kBar, ScrollRequest::ThumbTrack, 20);
    Sent();
    Click(&dialog_, 2);
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
    EXPECT_EQ(Field(&dialog_, kField), "75");
    Click(&dialog_, 1);
    EXPECT_EQ(Messages(), Strings{dialogs::RangePrompt(-60, 60)});
    EXPECT_TRUE(dialog_.isVisible());
    Scroll(&dialog_, kBar, ScrollRequest::StepLeft);  // from the clamped 60 to 59
    Sent();
    Click(&dialog_, 1);
    EXPECT_TRUE(Sent().empty());
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
    EXPECT_EQ(Values(), std::make_pair(0, 59));
}

}  // namespace
}  // namespace dpx::test
