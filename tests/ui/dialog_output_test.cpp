// The output preset dialog against the in-process box: the opening sends, the exclusion of
// ABOVE-BELOW and INDIVIDUAL, the ABOVE-BELOW sequence, failed sends and unlisted codes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <string>
#include <vector>

#include "dialogs/OutputPresetDialog.h"
#include "link/RS232c_bios.h"
#include "resources/OutputPresetIds.h"
#include "tests/support/BoxPort.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/LayoutDialog.h"

namespace dpx {
namespace {

using namespace res::output_preset;

class OutputPresetDialogTest : public test::DialogTest {
protected:
    void Click(int id) { ui::Control<QAbstractButton>(&dialog, id)->click(); }
    bool On(int id) { return ui::IsRadioSelected(&dialog, id); }

    OutputPresetDialog dialog{session_};
};

TEST_F(OutputPresetDialogTest, OpeningSendsAllThreeAsTheyAreEvenInConflict) {
    Hand(dialog, {1, 0, 2});
    dialog.show();
    EXPECT_EQ(Sent(), (std::vector<std::string>{"OUTPU", "SDIMX 1", "HDMIM 0", "3DFOR 2"}));
    EXPECT_TRUE(On(kSdiIndividual));
    EXPECT_TRUE(On(kAboveBelow));
    EXPECT_TRUE(messages_.texts.empty());
    // The conflict shows at the next click: the refusal leaves the radios as they were.
    box_.ClearHistory();
    Click(kAboveBelow);
    EXPECT_EQ(messages_.texts, std::vector<std::string>{
                                  "Cannot Change!\nSome Output is INDIVUSUAL now, ABOVE-BELOW is not valid."});
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(On(kAboveBelow));
    EXPECT_TRUE(On(kSdiIndividual));
}

TEST_F(OutputPresetDialogTest, AboveBelowSendsBothOutputsAsMixThenTheFormat) {
    Hand(dialog, {0, 0, 1});
    dialog.show();
    box_.ClearHistory();
    Click(kAboveBelow);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"SDIMX 0", "HDMIM 0", "3DFOR 2"}));
    // Now an output cannot go INDIVIDUAL.
    box_.ClearHistory();
    Click(kHdmiIndividual);
    EXPECT_EQ(messages_.texts, std::vector<std::string>{
                                  "Cannot Change!\n3D FORMAT is ABOVE-BELOW now, INDIVUSUAL output is not valid."});
    EXPECT_TRUE(On(kHdmiMix));
    EXPECT_FALSE(On(kHdmiIndividual));
    Click(kSdiIndividual);
    EXPECT_TRUE(On(kSdiMix));
    EXPECT_TRUE(Sent().empty());
    const auto [sdi, hdmi, format] = dialog.GetValues();
    EXPECT_EQ(sdi, 0);
    EXPECT_EQ(hdmi, 0);
    EXPECT_EQ(format, 2);
}

// An output the box would not set to MIX may still be INDIVIDUAL: ABOVE-BELOW is not sent then.
TEST_F(OutputPresetDialogTest, AFailedSendOfTheAboveBelowSequenceStopsIt) {
    Hand(dialog, {0, 0, 0});
    dialog.show();
    box_.ClearHistory();
    box_.Options().forced_nak["SDIMX"] = 1;
    Click(kAboveBelow);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"SDIMX 0"}));
    EXPECT_EQ(messages_.texts, std::vector<std::string>{"SDI Output Select : RS232C error!"});
    EXPECT_FALSE(On(kAboveBelow));
    EXPECT_TRUE(On(kLineByLine));
    box_.Options().forced_nak.clear();
    box_.Options().forced_nak["3DFOR"] = 1;
    Click(kSideBySide);
    EXPECT_EQ(messages_.texts.back(), "Output 3D Format Select : RS232C error!");
    EXPECT_TRUE(On(kLineByLine));
    EXPECT_FALSE(On(kSideBySide));
    box_.Options().forced_nak["HDMIM"] = 1;
    Click(kHdmiMix);
    EXPECT_EQ(messages_.texts.back(), "HDMI Output Select : RS232C error!");
}

TEST_F(OutputPresetDialogTest, RefusedAboveBelowShowsTheFormatChosenLast) {
    Hand(dialog, {0, 0, 0});
    dialog.show();
    Click(kSdiIndividual);
    Click(kSideBySide);
    box_.ClearHistory();
    Click(kAboveBelow);
    EXPECT_EQ(messages_.texts, std::vector<std::string>{
                                  "Cannot Change!\nSome Output is INDIVUSUAL now, ABOVE-BELOW is not valid."});
    EXPECT_TRUE(On(kSideBySide));
    EXPECT_FALSE(On(kAboveBelow));
    EXPECT_TRUE(Sent().empty());
    // Back to MIX: the format stays until chosen.
    Click(kSdiMix);
    EXPECT_EQ(Sent(), std::vector<std::string>{"SDIMX 0"});
    EXPECT_TRUE(On(kSideBySide));
}

TEST_F(OutputPresetDialogTest, RefusedAboveBelowWithNoFormatChosenShowsTheFormatInForce) {
    Hand(dialog, {0, 1, 3});
    dialog.show();
    Click(kAboveBelow);
    EXPECT_EQ(messages_.texts.size(), 1u);
    EXPECT_TRUE(On(kCheckerBoard));
    EXPECT_FALSE(On(kLineByLine));
}

TEST_F(OutputPresetDialogTest, UnlistedCodesShowTheFirstRadioAsZero) {
    test::BoxPort::Of(link_)->tamper = [](const sim::Exchange&, std::vector<uint8_t>& reply) {
        reply = sim::AckReply();
    };
    Hand(dialog, {5, 6, 7});
    dialog.show();
    EXPECT_EQ(Sent(), (std::vector<std::string>{"OUTPU", "SDIMX 5", "HDMIM 6", "3DFOR 7"}));
    EXPECT_TRUE(On(kSdiMix));
    EXPECT_TRUE(On(kHdmiMix));
    EXPECT_TRUE(On(kLineByLine));
    const auto [sdi, hdmi, format] = dialog.GetValues();
    EXPECT_EQ(sdi, 0);
    EXPECT_EQ(hdmi, 0);
    EXPECT_EQ(format, 0);
    box_.ClearHistory();
    Click(kExit);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(Sent().empty());
}

}  // namespace
}  // namespace dpx
