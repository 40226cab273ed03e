// The input select dialog against the in-process box: the opening sends, clicks, a failed
// send with its radio restored, unlisted codes and the closes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <string>
#include <vector>

#include "dialogs/InputSelectDialog.h"
#include "link/RS232c_bios.h"
#include "resources/InputSelectIds.h"
#include "tests/support/BoxPort.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/LayoutDialog.h"

namespace dpx {
namespace {

using namespace res::input_select;

class InputSelectDialogTest : public test::DialogTest {
protected:
    void Click(int id) { ui::Control<QAbstractButton>(&dialog, id)->click(); }
    bool On(int id) { return ui::IsRadioSelected(&dialog, id); }

    InputSelectDialog dialog{session_};
};

TEST_F(InputSelectDialogTest, OpeningSendsInputThenPolarity) {
    Hand(dialog, {0, 1});
    dialog.show();
    EXPECT_EQ(Sent(), (std::vector<std::string>{"INPUT", "INPSE 0", "BOTHP 1"}));
    EXPECT_TRUE(On(kSdiLr));
    EXPECT_TRUE(On(kInvert));
    EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(InputSelectDialogTest, ClicksSendCodesAndAFailedOneRestores) {
    Hand(dialog, {1, 0});
    dialog.show();
    box_.ClearHistory();
    Click(kSdiLr);
    Click(kHdmi);
    Click(kInvert);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"INPSE 0", "INPSE 3", "BOTHP 1"}));
    auto [input, polarity] = dialog.GetValues();
    EXPECT_EQ(input, 3);
    EXPECT_EQ(polarity, 1);

    Click(kSdi2);
    ASSERT_EQ(link_.ConnectLink(0), 1);  // the link is down now
    Click(kHdmi);
    EXPECT_EQ(messages_.texts, std::vector<std::string>{"InputSelect : RS232C error!"});
    EXPECT_TRUE(On(kSdi2));
    EXPECT_FALSE(On(kHdmi));
    Click(kNormal);
    EXPECT_EQ(messages_.texts.back(), "Input Porality : RS232C error!");
    EXPECT_TRUE(On(kInvert));
    input = dialog.GetValues().sys_input_select;
    polarity = dialog.GetValues().sys_input_porality;
    EXPECT_EQ(input, 2);
    EXPECT_EQ(polarity, 1);
}

TEST_F(InputSelectDialogTest, UnlistedInputIsSentThenShownAsSdi1) {
    test::BoxPort::Of(link_)->tamper = [](const sim::Exchange&, std::vector<uint8_t>& reply) {
        reply = sim::AckReply();
    };
    Hand(dialog, {9, 7});
    dialog.show();
    EXPECT_EQ(Sent(), (std::vector<std::string>{"INPUT", "INPSE 9", "BOTHP 7"}));
    EXPECT_TRUE(On(kSdi1));
    EXPECT_TRUE(On(kNormal));
    const auto [input, polarity] = dialog.GetValues();
    EXPECT_EQ(input, 1);
    EXPECT_EQ(polarity, 0);
}

TEST_F(InputSelectDialogTest, ClosesSendNothing) {
    Hand(dialog, {2, 0});
    dialog.show();
    box_.ClearHistory();
    Click(kExit);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(Sent().empty());
    EXPECT_FALSE(ui::FindControl(&dialog, kCancel)->isVisible());
}

}  // namespace
}  // namespace dpx
