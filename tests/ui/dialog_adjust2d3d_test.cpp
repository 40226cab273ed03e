// The 2D-3D adjust dialog against the in-process box: what opening sends, radio clicks and
// their restore after a failure, codes without a radio of their own, the three bars at their
// edges and after a failed send, the closes, and the ten adjust slot files.
#include <gtest/gtest.h>

#include <QFile>
#include <QTest>

#include "dialogs/Adjust2D3DDialog.h"
#include "dialogs/DialogControls.h"
#include "resources/Adjust2D3DIds.h"
#include "settings/AdjustFile.h"
#include "tests/ui/dialog_fixture.h"

namespace dpx::test {
namespace {

using namespace res::adjust2d3d;
using ui::ScrollRequest;
using Strings = std::vector<std::string>;

const char kModeError[] = "Adjust Mode Select : RS232C error!";
const char kParallaxError[] = "Parallax Scroll Bar Select : RS232C error!";
const char kIntensityError[] = "Intensity Scroll Bar Select : RS232C error!";
const char kSubError[] = "SUB INT. Scroll Bar Select : RS232C error!";

// The dialog opens with 2D-3D on at an input other than SDI-LR.
class Adjust2D3DTest : public DialogTest {
protected:
    Adjust2D3DTest() { record_.sys_2D3D = 1; }
    Adjust2D3DDialog& Open(int32_t mode, int32_t parallax, int32_t intensity, int32_t sub) {
        Hand(dialog_, {mode, parallax, intensity, sub});
        dialog_.show();  // runs the initialisation
        return dialog_;
    }
    std::vector<int32_t> Values() const {
        const auto [mode, parallax, intensity, sub] = dialog_.GetValues();
        return {mode, parallax, intensity, sub};
    }
    std::vector<int> Radios() const { return Selected(&dialog_, {kOff, kStandard, kAnaglyph, kLrSequential}); }
    Strings Fields() const {
        return {Field(&dialog_, kParallaxField), Field(&dialog_, kIntensityField), Field(&dialog_, kSubIntensityField)};
    }

    Adjust2D3DDialog dialog_{session_};
};

TEST_F(Adjust2D3DTest, OpeningSendsModeThenTheThreeValues) {
    Open(6, 13, 23, 40);
    EXPECT_EQ(Sent(), (Strings{"ADJUS", "ADJMD 6", "ADJPX 13", "ADJIY 23", "ADJSI 40"}));
    EXPECT_EQ(Radios(), std::vector<int>{kAnaglyph});
    EXPECT_EQ(Fields(), (Strings{"13", "23", "40"}));
    EXPECT_EQ(Bar(&dialog_, kParallaxBar), 13);
    EXPECT_EQ(Bar(&dialog_, kSubIntensityBar), 40);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(box_.State().adjust, (std::array<int, 3>{13, 23, 40}));
}

TEST_F(Adjust2D3DTest, WithModeOffBarsOnlyStoreUntilAModeIsClicked) {
    Open(0, 10, 20, 30);
    EXPECT_EQ(Sent(), (Strings{"ADJUS", "ADJMD 0"}));
    EXPECT_EQ(Radios(), std::vector<int>{kOff});

    Scroll(&dialog_, kIntensityBar, ScrollRequest::StepRight);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Field(&dialog_, kIntensityField), "21");

    Click(&dialog_, kStandard);
    EXPECT_EQ(Sent(), (Strings{"ADJMD 4", "ADJPX 10", "ADJIY 21", "ADJSI 30"}));
    EXPECT_EQ(Radios(), std::vector<int>{kStandard});

    Click(&dialog_, kOff);
    EXPECT_EQ(Sent(), (Strings{"ADJMD 0"}));
    EXPECT_EQ(Values(), (std::vector<int32_t>{0, 10, 21, 30}));
}

TEST_F(Adjust2D3DTest, CodesWithoutARadioOfTheirOwn) {
    // 10 is a standard variant: shown by STANDARD and kept until a radio is clicked.
    Open(10, 1, 2, 3);
    EXPECT_EQ(Sent(), (Strings{"ADJUS", "ADJMD 10", "ADJPX 1", "ADJIY 2", "ADJSI 3"}));
    EXPECT_EQ(Radios(), std::vector<int>{kStandard});
    EXPECT_EQ(Values()[0], 10);
    Click(&dialog_, kLrSequential);
    EXPECT_EQ(Values()[0], 8);
}

TEST_F(Adjust2D3DTest, UnknownCodeIsSentThenShownAsOff) {
    Open(3, 1, 2, 3);
    EXPECT_EQ(Sent(), (Strings{"ADJUS", "ADJMD 3"}));  // mode 0 in force: values not sent
    EXPECT_EQ(Radios(), std::vector<int>{kOff});
    EXPECT_EQ(Values()[0], 0);
}

TEST_F(Adjust2D3DTest, UnknownCodeBecomesOffEvenWhenItsSendFails) {
    box_.Options().forced_nak["ADJMD"] = 1;
    Adjust2D3DDialog& d = Open(3, 1, 2, 3);
    EXPECT_EQ(Messages(), Strings{kModeError});
    EXPECT_EQ(Radios(), std::vector<int>{kOff});
    const int32_t mode = d.GetValues().sys_adj3d_mode;
    EXPECT_EQ(mode, 0);
}

TEST_F(Adjust2D3DTest, FailedRadioClickRestoresTheRadioAndResendsUnderTheOldMode) {
    Open(4, 5, 6, 7);
    Sent();
    box_.Options().forced_nak["ADJMD"] = 1;
    Click(&dialog_, kAnaglyph);
    EXPECT_EQ(Messages(), Strings{kModeError});
    EXPECT_EQ(Radios(), std::vector<int>{kStandard});
    EXPECT_EQ(Values()[0], 4);
    EXPECT_EQ(Sent(), (Strings{"ADJMD 6", "ADJPX 5", "ADJIY 6", "ADJSI 7"}));
}

TEST_F(Adjust2D3DTest, FailedClickFromOffLeavesOffAndSendsNoValues) {
    Open(0, 5, 6, 7);
    Sent();
    box_.Options().forced_nak["ADJMD"] = 1;
    Click(&dialog_, kStandard);
    EXPECT_EQ(Messages(), Strings{kModeError});
    EXPECT_EQ(Radios(), std::vector<int>{kOff});
    EXPECT_EQ(Sent(), (Strings{"ADJMD 4"}));
}

TEST_F(Adjust2D3DTest, OpeningWhileLoggedOffShowsOneMessagePerValueAndRunsOn) {
    Disconnect();
    Open(8, 5, 6, 7);
    EXPECT_EQ(Messages(), (Strings{kModeError, kParallaxError, kIntensityError, kSubError}));
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Radios(), std::vector<int>{kLrSequential});
    EXPECT_EQ(Values(), (std::vector<int32_t>{8, 5, 6, 7}));
    EXPECT_TRUE(dialog_.isVisible());
}

TEST_F(Adjust2D3DTest, BarEdgesClampAndOtherRequestsDoNothing) {
    Open(4, 55, 7, 0);
    Sent();
    Scroll(&dialog_, kParallaxBar, ScrollRequest::PageRight);
    Scroll(&dialog_, kIntensityBar, ScrollRequest::PageLeft);
    Scroll(&dialog_, kSubIntensityBar, ScrollRequest::StepLeft);  // already at 0: nothing to send
    EXPECT_EQ(Sent(), (Strings{"ADJPX 60", "ADJIY 0"}));
    EXPECT_EQ(Fields(), (Strings{"60", "0", "0"}));
    EXPECT_EQ(Bar(&dialog_, kParallaxBar), 60);

    Scroll(&dialog_, kParallaxBar, ScrollRequest::Other);  // a jump to the far end is ignored
    EXPECT_EQ(Bar(&dialog_, kParallaxBar), 60);
    EXPECT_TRUE(Sent().empty());

    Scroll(&dialog_, kParallaxBar, ScrollRequest::ThumbTrack, 0);
    EXPECT_EQ(Sent(), (Strings{"ADJPX 0"}));
    EXPECT_EQ(Field(&dialog_, kParallaxField), "0");
    EXPECT_EQ(Values(), (std::vector<int32_t>{4, 0, 0, 0}));
}

TEST_F(Adjust2D3DTest, BarLeftStandingAfterAFailedSendIsSentAtTheNextRequest) {
    Open(4, 10, 20, 30);
    Sent();
    box_.Options().forced_nak["ADJPX"] = 1;
    Scroll(&dialog_, kParallaxBar, ScrollRequest::StepRight);
    EXPECT_EQ(Messages(), Strings{kParallaxError});
    EXPECT_EQ(Bar(&dialog_, kParallaxBar), 11);  // the bar stays where it was moved
    EXPECT_EQ(Field(&dialog_, kParallaxField), "10");
    EXPECT_EQ(Values()[1], 10);
    Sent();

    box_.Options().forced_nak.clear();
    Scroll(&dialog_, kSubIntensityBar, ScrollRequest::StepLeft);
    EXPECT_EQ(Sent(), (Strings{"ADJPX 11", "ADJSI 29"}));
    EXPECT_EQ(Fields(), (Strings{"11", "20", "29"}));
    EXPECT_EQ(link_.GetAdjustValues()[0], 11);
}

// A wheel notch is one step, never a jump sent as a thumb; the bar's context menu gives the
// same requests as its arrows and groove, and its edges do nothing.
TEST_F(Adjust2D3DTest, WheelAndContextMenuGiveTheBarsRequests) {
    Open(4, 10, 20, 30);
    Sent();
    Wheel(&dialog_, kParallaxBar, -120);
    EXPECT_EQ(Sent(), Strings{"ADJPX 11"});
    Wheel(&dialog_, kParallaxBar, 60);  // half a notch: nothing yet
    EXPECT_TRUE(Sent().empty());
    Wheel(&dialog_, kParallaxBar, 60);
    EXPECT_EQ(Sent(), Strings{"ADJPX 10"});
    EXPECT_EQ(Bar(&dialog_, kParallaxBar), 10);

    for (const char* item : {"Page right", "Scroll left", "Page left", "Scroll right", "Left edge", "Right edge"})
        MenuItem(&dialog_, kParallaxBar, item);
    EXPECT_EQ(Sent(), (Strings{"ADJPX 20", "ADJPX 19", "ADJPX 9", "ADJPX 10"}));
    EXPECT_EQ(Bar(&dialog_, kParallaxBar), 10);

    auto* bar = ui::Control<QScrollBar>(&dialog_, kParallaxBar);
    MenuItem(&dialog_, kParallaxBar, "Scroll here", bar->width() - 1);
    EXPECT_EQ(Sent(), Strings{"ADJPX 60"});
    EXPECT_EQ(Bar(&dialog_, kParallaxBar), 60);
    EXPECT_EQ(Field(&dialog_, kParallaxField), "60");
}

TEST_F(Adjust2D3DTest, TabReachesTheBarsAndTheKeysStepAndPage) {
    Open(4, 10, 20, 30);
    Sent();
    dialog_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));
    auto* bar = ui::Control<QScrollBar>(&dialog_, kParallaxBar);
    for (int i = 0; i < 100 && !bar->hasFocus(); ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_TRUE(bar->hasFocus());

    for (Qt::Key key : {Qt::Key_Right, Qt::Key_Left, Qt::Key_PageDown, Qt::Key_PageUp, Qt::Key_Down, Qt::Key_Up,
                        Qt::Key_Home, Qt::Key_End})
        QTest::keyClick(bar, key);
    EXPECT_EQ(Sent(), (Strings{"ADJPX 11", "ADJPX 10", "ADJPX 20", "ADJPX 10", "ADJPX 11", "ADJPX 10"}));
    EXPECT_EQ(Bar(&dialog_, kParallaxBar), 10);
    EXPECT_EQ(Values()[1], 10);
}

TEST_F(Adjust2D3DTest, ExitWithoutAdjustSwitchesOffAndKeepsTheValues) {
    Open(4, 10, 20, 30);
    Scroll(&dialog_, kParallaxBar, ScrollRequest::ThumbTrack, 25);
    Sent();
    Click(&dialog_, kExitWithoutAdjust);
    EXPECT_EQ(Sent(), (Strings{"ADJMD 0"}));
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), QDialog::Rejected);
    EXPECT_EQ(Values(), (std::vector<int32_t>{0, 25, 20, 30}));
}

TEST_F(Adjust2D3DTest, EscapeAndCloseBoxSwitchOffAndCloseEvenWhenSendingFails) {
    Open(6, 10, 20, 30);
    Sent();
    QTest::keyClick(&dialog_, Qt::Key_Escape);
    EXPECT_EQ(Sent(), (Strings{"ADJMD 0"}));
    EXPECT_FALSE(dialog_.isVisible());

    dialog_.show();  // already initialised: nothing is sent again
    Click(&dialog_, kAnaglyph);
    Sent();
    box_.Options().forced_nak["ADJMD"] = 1;
    dialog_.close();
    EXPECT_EQ(Messages(), Strings{kModeError});
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(Values()[0], 6);  // the mode still in force on the box
}

TEST_F(Adjust2D3DTest, ValueOutOfRangeFromThePanelBlocksOnlyTheAcceptingClose) {
    Open(0, 10, 70, 30);
    EXPECT_EQ(Field(&dialog_, kIntensityField), "70");
    Click(&dialog_, kExitWithAdjust);
    EXPECT_EQ(Messages(), Strings{dialogs::RangePrompt(0, 60)});
    EXPECT_TRUE(dialog_.isVisible());
    Click(&dialog_, kExitWithoutAdjust);
    EXPECT_FALSE(dialog_.isVisible());
}

TEST_F(Adjust2D3DTest, ExitWithAdjustSendsNothingAndCloses) {
    Open(4, 10, 20, 30);
    Sent();
    Click(&dialog_, kExitWithAdjust);
    EXPECT_TRUE(Sent().empty());
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
    EXPECT_EQ(Values(), (std::vector<int32_t>{4, 10, 20, 30}));
}

TEST_F(Adjust2D3DTest, SaveThenLoadASlotSendsTheValuesButNotTheMode) {
    Open(8, 10, 20, 30);
    Click(&dialog_, kSave1 + 2);  // slot 3
    QFile file("dpx20remote03.adj");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), AdjustFileText(8, 10, 20, 30));

    Click(&dialog_, kStandard);
    Scroll(&dialog_, kParallaxBar, ScrollRequest::PageRight);
    Sent();
    Click(&dialog_, kLoad1 + 2);
    EXPECT_EQ(Sent(), (Strings{"ADJPX 10", "ADJIY 20", "ADJSI 30"}));
    EXPECT_EQ(Values(), (std::vector<int32_t>{4, 10, 20, 30}));
    EXPECT_EQ(Radios(), std::vector<int>{kStandard});
    EXPECT_EQ(Bar(&dialog_, kParallaxBar), 10);
    EXPECT_EQ(Fields(), (Strings{"10", "20", "30"}));
    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(exits_.codes.empty());
}

TEST_F(Adjust2D3DTest, SlotTenUsesATwoDigitNameAndLoadingAMissingSlotChangesNothing) {
    Open(4, 10, 20, 30);
    Click(&dialog_, kSave1 + 9);
    EXPECT_TRUE(QFile::exists("dpx20remote10.adj"));
    Sent();
    Click(&dialog_, kLoad1 + 3);  // slot 4 was never saved
    EXPECT_EQ(Messages(), Strings{"Do not found adjust file!\n\n[ file name = dpx20remote04.adj ]"});
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Values(), (std::vector<int32_t>{4, 10, 20, 30}));
}

TEST_F(Adjust2D3DTest, OutOfRangeValueKeepsTheDialogOpenWithTheRangePrompt) {
    WriteAdjustFile(AdjustFileName(5), 4, 12, -1, 30);  // a hand-edited file
    Open(0, 10, 20, 30);
    Sent();
    Click(&dialog_, kLoad1 + 4);
    EXPECT_EQ(Values(), (std::vector<int32_t>{0, 12, -1, 30}));  // kept without sending under mode 0
    EXPECT_EQ(Bar(&dialog_, kIntensityBar), 0);
    EXPECT_EQ(Field(&dialog_, kIntensityField), "-1");
    EXPECT_TRUE(Sent().empty());
    Messages();

    Click(&dialog_, kExitWithAdjust);
    EXPECT_EQ(Messages(), Strings{dialogs::RangePrompt(0, 60)});
    EXPECT_TRUE(dialog_.isVisible());

    // Moving the bar brings the value back into range; then the dialog closes.
    Scroll(&dialog_, kIntensityBar, ScrollRequest::StepLeft);
    EXPECT_EQ(Values()[2], 0);
    Click(&dialog_, kExitWithAdjust);
    EXPECT_TRUE(Messages().empty());
    EXPECT_FALSE(dialog_.isVisible());
}

}  // namespace
}  // namespace dpx::test
