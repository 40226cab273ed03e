// The function dialog against the in-process box: the opening sends, radio clicks and their
// restore on failure, unlisted codes, the back light bar and its refusals, the memories and
// the closes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "dialogs/FunctionDialog.h"
#include "link/RS232c_bios.h"
#include "resources/FunctionIds.h"
#include "tests/support/BoxPort.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/LayoutDialog.h"
#include "ui/QtMessageSink.h"

namespace dpx {
namespace {

using namespace res::function;

class FunctionDialogTest : public test::DialogTest {
protected:
    void Open(int32_t rotate, int32_t sync, int32_t beep, int32_t light) {
        Hand(dialog, {rotate, sync, beep, light});
        dialog.show();
    }
    void Click(int id) {
        ui::Control<QAbstractButton>(&dialog, id)->click();
    }
    QScrollBar* Bar() { return ui::Control<QScrollBar>(&dialog, kBackLightBar); }
    QString Field() { return ui::Control<QLineEdit>(&dialog, kBackLightField)->text(); }
    std::vector<int32_t> Values() {
        const auto [r, s, b, l] = dialog.GetValues();
        return {r, s, b, l};
    }
    void AcceptEverything() {
        test::BoxPort::Of(link_)->tamper = [](const sim::Exchange&, std::vector<uint8_t>& reply) {
            reply = sim::AckReply();
        };
    }

    FunctionDialog dialog{session_};
};

TEST_F(FunctionDialogTest, OpeningSendsAllFourInOrderAndShowsThem) {
    Open(2, 1, 1, -7);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"MMENU", "SDIRT 2", "FRASY 1", "BEEPA 1", "BACKL -7"}));
    EXPECT_TRUE(ui::IsRadioSelected(&dialog, kRotateSdi2));
    EXPECT_TRUE(ui::IsRadioSelected(&dialog, kFrameSyncOn));
    EXPECT_TRUE(ui::IsRadioSelected(&dialog, kBeepOff));  // beep 1 is OFF
    EXPECT_EQ(Bar()->minimum(), -30);
    EXPECT_EQ(Bar()->maximum(), 30);
    EXPECT_EQ(Bar()->value(), -7);
    EXPECT_EQ(Field(), "-7");
    EXPECT_TRUE(ui::Control<QLineEdit>(&dialog, kBackLightField)->isReadOnly());
    EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(FunctionDialogTest, RadioClicksSendTheirCodesAndAFailureRestores) {
    Open(0, 0, 0, 0);
    box_.ClearHistory();
    Click(kBeepOff);
    Click(kBeepOn);
    Click(kRotateSdi1);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"BEEPA 1", "BEEPA 0", "SDIRT 1"}));
    EXPECT_EQ(Values(), (std::vector<int32_t>{1, 0, 0, 0}));

    box_.Options().forced_nak["FRASY"] = 1;
    Click(kFrameSyncOn);
    EXPECT_EQ(messages_.texts, std::vector<std::string>{"Function Frame Synchronizer Select : RS232C error!"});
    EXPECT_TRUE(ui::IsRadioSelected(&dialog, kFrameSyncOff));
    EXPECT_FALSE(ui::IsRadioSelected(&dialog, kFrameSyncOn));
    box_.Options().forced_nak["BEEPA"] = 1;
    Click(kBeepOff);
    box_.Options().forced_nak["SDIRT"] = 1;
    Click(kRotateSdi2);
    EXPECT_EQ(messages_.texts.back(), "Function Rotate Select : RS232C error!");
    EXPECT_EQ(messages_.texts[1], "Function Beep Select : RS232C error!");
    EXPECT_TRUE(ui::IsRadioSelected(&dialog, kBeepOn));
    EXPECT_TRUE(ui::IsRadioSelected(&dialog, kRotateSdi1));
    EXPECT_FALSE(ui::IsRadioSelected(&dialog, kRotateSdi2));
    EXPECT_EQ(Values(), (std::vector<int32_t>{1, 0, 0, 0}));
}

TEST_F(FunctionDialogTest, StoredMirrorCodeIsSentWithNoVisibleRadioSelected) {
    AcceptEverything();
    Open(4, 1, 2, 0);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"MMENU", "SDIRT 4", "FRASY 1", "BEEPA 2", "BACKL 0"}));
    for (int id : {kRotateOff, kRotateSdi1, kRotateSdi2}) EXPECT_FALSE(ui::IsRadioSelected(&dialog, id)) << id;
    EXPECT_TRUE(ui::IsRadioSelected(&dialog, kHMirrorSdi2));
    EXPECT_TRUE(ui::IsRadioSelected(&dialog, kBeepOff));  // unlisted beep: OFF, returned as 1
    EXPECT_EQ(Values(), (std::vector<int32_t>{4, 1, 1, 0}));
    box_.ClearHistory();
    Click(kRotateOff);
    EXPECT_EQ(Sent(), std::vector<std::string>{"SDIRT 0"});
    EXPECT_FALSE(ui::IsRadioSelected(&dialog, kHMirrorSdi2));
}

TEST_F(FunctionDialogTest, UnlistedCodeThatFailsFallsBackToOff) {
    Open(9, 1, 0, 0);  // the box refuses rotate 9
    EXPECT_EQ(messages_.texts, std::vector<std::string>{"Function Rotate Select : RS232C error!"});
    EXPECT_TRUE(ui::IsRadioSelected(&dialog, kRotateOff));
    EXPECT_EQ(Values()[0], 0);
}

TEST_F(FunctionDialogTest, BackLightStepsPagesAndThumb) {
    Open(0, 0, 0, 25);
    box_.ClearHistory();
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::PageRight);  // 35: refused, not clamped
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Bar()->value(), 25);
    EXPECT_EQ(Values()[3], 25);
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::StepLeft);
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::PageLeft);
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::PageRight);
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::StepRight);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"BACKL 24", "BACKL 14", "BACKL 24", "BACKL 25"}));
    box_.ClearHistory();
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::StepLeft);
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::StepLeft);
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::StepLeft);
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::StepLeft);
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::StepLeft);  // 20
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::PageRight);
    EXPECT_EQ(Sent().back(), "BACKL 30");
    EXPECT_EQ(Field(), "30");
    box_.ClearHistory();
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::ThumbTrack, -30);
    EXPECT_EQ(Sent(), std::vector<std::string>{"BACKL -30"});
    EXPECT_EQ(Field(), "-30");
    EXPECT_EQ(Bar()->value(), -30);
    box_.ClearHistory();
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::Other);  // jump to an end: nothing at all
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Bar()->value(), -30);
    EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(FunctionDialogTest, FailedBackLightSnapsBackAndTheNextRequestSendsAgain) {
    Open(0, 0, 0, 0);
    box_.Options().forced_nak["BACKL"] = 1;
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::StepRight);
    EXPECT_EQ(messages_.texts, std::vector<std::string>{"Function Back Light Select : RS232C error!"});
    EXPECT_EQ(Bar()->value(), 0);
    EXPECT_EQ(Field(), "0");
    box_.Options().forced_nak.clear();
    box_.ClearHistory();
    ui::SendScrollRequest(Bar(), ui::ScrollRequest::StepRight);
    EXPECT_EQ(Sent(), std::vector<std::string>{"BACKL 1"});
    EXPECT_EQ(Values()[3], 1);
}

// A debug report of the rotate send is open (its transaction still in progress) when the
// operator moves the bar: the back light is refused as busy and nothing more is sent.
TEST_F(FunctionDialogTest, BackLightWhileATransactionRunsIsRefusedAsBusy) {
    Open(0, 0, 0, 5);
    link_.SetDebugMode(1);
    box_.Options().forced_nak["SDIRT"] = 1;
    bool once = false;
    messages_.on_show = [&](const std::string&) {
        if (once) return;
        once = true;
        box_.ClearHistory();
        ui::SendScrollRequest(Bar(), ui::ScrollRequest::PageLeft);
        EXPECT_TRUE(Sent().empty());
    };
    Click(kRotateSdi1);
    ASSERT_GE(messages_.texts.size(), 3u);
    EXPECT_EQ(messages_.texts[1], "Function Back Light Select : RS232C busy!");
    EXPECT_EQ(messages_.texts.back(), "Function Rotate Select : RS232C error!");
    EXPECT_EQ(Bar()->value(), 5);
    EXPECT_EQ(Values()[3], 5);
}

// The wheel and the context menu go through the same refusal as the arrows: a level past
// either end is not sent and the bar stays at the level in force.
TEST_F(FunctionDialogTest, WheelAndContextMenuOnTheBackLightKeepItsRefusals) {
    Open(0, 0, 0, 25);
    box_.ClearHistory();
    Wheel(&dialog, kBackLightBar, -120);
    MenuItem(&dialog, kBackLightBar, "Page right");  // 36: refused
    EXPECT_EQ(Sent(), std::vector<std::string>{"BACKL 26"});
    EXPECT_EQ(Bar()->value(), 26);
    for (const char* item : {"Scroll left", "Page left", "Scroll right", "Left edge", "Right edge"})
        MenuItem(&dialog, kBackLightBar, item);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"BACKL 25", "BACKL 15", "BACKL 16"}));
    EXPECT_EQ(Bar()->value(), 16);
    MenuItem(&dialog, kBackLightBar, "Scroll here", 0);
    MenuItem(&dialog, kBackLightBar, "Page left");  // -40: refused
    Wheel(&dialog, kBackLightBar, 120);             // -31: refused
    EXPECT_EQ(Sent(), std::vector<std::string>{"BACKL -30"});
    EXPECT_EQ(Bar()->value(), -30);
    EXPECT_EQ(Field(), "-30");
    EXPECT_TRUE(messages_.texts.empty());
}

// The message box shows a debug report's value byte as one character, not as a replacement
// character; a UTF-8 file path in other notices stays UTF-8.
TEST_F(FunctionDialogTest, DebugReportShowsTheFramesValueByteInTheBox) {
    Open(0, 0, 0, 0);
    ui::QtMessageSink box_sink;
    std::vector<QString> shown;
    {
        TestSeam seam;
        seam.Sink(&box_sink);
        link_.SetDebugMode(1);
        box_.Options().forced_nak["BACKL"] = 1;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown.push_back(box->text());
                box->accept();
            }
        });
        closer.start(0);
        ui::SendScrollRequest(Bar(), ui::ScrollRequest::ThumbTrack, -12);  // value byte 0xF4
        closer.stop();
    }
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("-") + QChar(0xF4) + QStringLiteral("\n\nbinary = ")))
        << shown[0].toStdString();
    EXPECT_FALSE(shown[0].contains(QChar::ReplacementCharacter));
    EXPECT_EQ(shown[1], "Function Back Light Select : RS232C error!");
    EXPECT_EQ(ui::NoticeText("/tmp/caf\xc3\xa9.ini"), QStringLiteral("/tmp/caf\u00e9.ini"));
}

TEST_F(FunctionDialogTest, MemoryButtonsMoveTheLinksAdjustValues) {
    link_.SetAdjustValues({1, 2, 3, 10, 20, 30, 11, 21, 31});
    box_.MutableState().adjust = {1, 2, 3};
    Open(0, 0, 0, 0);
    box_.ClearHistory();
    Click(kMemory1Save);  // memory 1 SAVE
    Click(kMemory2Load);  // memory 2 LOAD
    EXPECT_EQ(Sent(), (std::vector<std::string>{"MEMSV 0", "MEMLD 1"}));
    EXPECT_EQ(link_.GetAdjustValues(), (RS232c_bios::AdjustValues{11, 21, 31, 1, 2, 3, 11, 21, 31}));
    box_.Options().forced_nak["MEMSV"] = 1;
    box_.Options().forced_nak["MEMLD"] = 1;
    for (int id : {kMemory1Save, kMemory1Load, kMemory2Save, kMemory2Load}) Click(id);
    EXPECT_EQ(messages_.texts, (std::vector<std::string>{
                                  "Function Memory 1 SAVE : RS232C error!", "Function Memory 1 LOAD : RS232C error!",
                                  "Function Memory 2 SAVE : RS232C error!", "Function Memory 2 LOAD : RS232C error!"}));
    EXPECT_EQ(link_.GetAdjustValues(), (RS232c_bios::AdjustValues{11, 21, 31, 1, 2, 3, 11, 21, 31}));
    EXPECT_EQ(Values(), (std::vector<int32_t>{0, 0, 0, 0}));
}

TEST_F(FunctionDialogTest, VirtualModeSendsNothingAndLeavesTheMirror) {
    link_.SetVirtualMode(1);
    const RS232c_bios::AdjustValues before = link_.GetAdjustValues();
    Open(1, 1, 1, 3);
    for (int id : {kMemory1Save, kMemory1Load, kMemory2Save, kMemory2Load, kRotateSdi2}) Click(id);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(link_.GetAdjustValues(), before);
    EXPECT_EQ(Values(), (std::vector<int32_t>{2, 1, 1, 3}));
    EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(FunctionDialogTest, ExitReadsTheFieldEscapeDoesNot) {
    Open(0, 0, 0, 12);
    box_.ClearHistory();
    Click(kExit);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Values()[3], 12);
    EXPECT_TRUE(Sent().empty());

    FunctionDialog out_of_range{session_};
    Hand(out_of_range, {0, 0, 0, 40});  // refused at opening, so the field shows 40
    out_of_range.show();
    auto* exit = ui::Control<QPushButton>(&out_of_range, kExit);
    exit->click();
    EXPECT_TRUE(out_of_range.isVisible());
    EXPECT_EQ(messages_.texts.back(), "Please enter an integer between -30 and 30.");
    QTest::keyClick(&out_of_range, Qt::Key_Escape);
    EXPECT_FALSE(out_of_range.isVisible());
    EXPECT_EQ(out_of_range.result(), QDialog::Rejected);
    EXPECT_FALSE(ui::FindControl(&out_of_range, kCancel)->isVisible());
}

}  // namespace
}  // namespace dpx
