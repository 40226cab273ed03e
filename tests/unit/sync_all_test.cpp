// Synchronisation against the in-process box: the order of the steps and their tails, the
// retry of a failed step, the three passes and their report, and the debug reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "sync/Synchronise.h"
#include "link/RS232c_bios.h"
#include "sim/BoxModel.h"
#include "tests/support/BoxPort.h"
#include "tests/support/ConnectedBoxTest.h"

namespace dpx {
namespace {

using Words = std::vector<std::string>;

const Words kCommonSteps = {"SDIRT", "FRASY", "BEEPA", "BEEPA", "BACKL",
                            "SDIMX", "HDMIM", "3DFOR", "INPSE", "BOTHP"};

// The report with every time ("= 123 mS") written as "= # mS", which the fake clock decides.
std::string Masked(std::string text) {
    for (size_t at = text.find(" mS"); at != std::string::npos; at = text.find(" mS", at + 1)) {
        size_t begin = at;
        while (begin > 0 && std::isdigit(static_cast<unsigned char>(text[begin - 1]))) --begin;
        if (begin == at) continue;
        text.replace(begin, at - begin, "#");
        at = begin;
    }
    return text;
}

Words Join(Words a, const Words& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class SyncTest : public test::ConnectedBoxTest {
protected:
    // The value commands the box received by their words, in order.
    Words ValueWords() const {
        Words words;
        for (const int command : ValueCommands()) words.push_back(CommandTable[command].word);
        return words;
    }
    // The value byte of every frame of `word` the box received.
    std::vector<int> ValuesOf(const std::string& word) const {
        std::vector<int> values;
        for (const sim::Exchange& ex : box_.History())
            if (ex.word == word) values.push_back(static_cast<int8_t>(ex.frame[9]));
        return values;
    }

    SettingsRecord settings_;  // what is synchronised
};

TEST_F(SyncTest, ConversionOnSendsTheCommonStepsThenConversionAndAdjustTwice) {
    settings_.sys_input_select = 1;  // HDMI
    settings_.sys_2D3D = 1;
    settings_.sys_adj3d_mode = 4;
    settings_.sys_adj3d_para = 30;
    settings_.sys_bk_light = -5;
    SyncFigures f;
    ASSERT_EQ(SyncRun(link_, settings_, {}, &f), 1);
    EXPECT_EQ(ValueWords(), Join(kCommonSteps, {"CONVE", "ADJMD", "ADJPX", "ADJIY", "ADJSI",
                                                "CONVE", "ADJMD"}));
    EXPECT_EQ(ValuesOf("BACKL"), std::vector<int>{-5});
    EXPECT_EQ(ValuesOf("ADJMD"), (std::vector<int>{4, 4}));
    EXPECT_EQ(box_.State().adjust[0], 30);
    EXPECT_EQ(box_.State().conversion, 1);
    EXPECT_EQ(f.errors, 0);
    EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(SyncTest, ConversionOffEndsWithConversionOff) {
    settings_.sys_input_select = 2;
    settings_.sys_adj3d_mode = 4;  // not sent while the conversion is off
    box_.MutableState().conversion = 1;
    ASSERT_EQ(SyncRun(link_, settings_), 1);
    EXPECT_EQ(ValueWords(), Join(kCommonSteps, {"CONVE"}));
    EXPECT_EQ(ValuesOf("CONVE"), std::vector<int>{0});
    EXPECT_EQ(box_.State().conversion, 0);
}

TEST_F(SyncTest, SdiLrTails) {
    settings_.sys_input_select = 0;
    settings_.sys_2D3D = 1;  // ignored for the SDI-LR input

    // Adjust mode on: no scope steps.
    settings_.sys_LRadj_mode = 2;
    settings_.sys_LRadj_split = -20;
    ASSERT_EQ(SyncRun(link_, settings_), 1);
    EXPECT_EQ(ValueWords(), Join(kCommonSteps, {"ADJMD", "ADJOS"}));
    EXPECT_EQ(ValuesOf("ADJOS"), std::vector<int>{-20});

    // Adjust off, scope off: the scope settings, but the scope mode 0 is not sent.
    box_.ClearHistory();
    settings_.sys_LRadj_mode = 0;
    settings_.sys_scp_mode = 0;
    ASSERT_EQ(SyncRun(link_, settings_), 1);
    const Words scope = {"ADJMD", "ADJOS", "SCSIG", "SCPOS", "SCPFI", "SCWFG", "SCVEG"};
    EXPECT_EQ(ValueWords(), Join(kCommonSteps, scope));

    // Scope on: the mode goes last.
    box_.ClearHistory();
    settings_.sys_scp_mode = 1;
    ASSERT_EQ(SyncRun(link_, settings_), 1);
    EXPECT_EQ(ValueWords(), Join(Join(kCommonSteps, scope), {"SCMOD"}));
    EXPECT_EQ(box_.State().scope_mode, 1);
}

TEST_F(SyncTest, VirtualModeReportsAtOnceAndSendsNothing) {
    settings_.vertual_mode = 1;
    link_.SetVirtualMode(1);
    EXPECT_EQ(SynchroniseAll(link_, settings_), 1);
    EXPECT_TRUE(box_.History().empty());
    EXPECT_EQ(messages_.texts,
              Words{"Update ZR-DPX20 all settings : Compleate!\nProcess time = 0 mS."});
}

TEST_F(SyncTest, CleanPassReportsItsTime) {
    EXPECT_EQ(SynchroniseAll(link_, settings_), 1);
    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_EQ(Masked(messages_.texts[0]),
              "Update ZR-DPX20 all settings : Compleate!\nProcess time = # mS.");
}

TEST_F(SyncTest, FailedStepIsTriedTwiceCountedOnceAndThePassGoesOn) {
    box_.Options().forced_nak["FRASY"] = 1;
    SyncFigures f;
    EXPECT_EQ(SyncRun(link_, settings_, {}, &f), 0);
    EXPECT_EQ(f.errors, 1);
    // Two tries of FRASY, and every later step still went out.
    Words words = ValueWords();
    EXPECT_EQ(std::count(words.begin(), words.end(), "FRASY"), 2);
    EXPECT_EQ(words.back(), "CONVE");
    EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(SyncTest, ThreeFailedPassesGiveUp) {
    box_.Options().forced_nak["SDIRT"] = 1;
    EXPECT_EQ(SynchroniseAll(link_, settings_), 0);
    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_EQ(Masked(messages_.texts[0]),
              "Update ZR-DPX20 all settings : error found!\n\n"
              "1st try : error = 1 times. process time = # mS.\n"
              "2nd try : error = 1 times. process time = # mS.\n"
              "3rd try : error = 1 times. process time = # mS.\n\n"
              "Give up! Maybe better to restart this program.");
    EXPECT_EQ(link_.State().link_connected, 1);
}

// A box that falls silent mid-pass, at whichever step: the synchronisation stops after
// kSilentLimit silent transactions instead of trying every step of three passes, and says why.
TEST_F(SyncTest, BoxSilentMidPassIsGivenUpInSeconds) {
    for (const char* last_answered : {"SDIRT", "BACKL", "INPSE"}) {
        SCOPED_TRACE(last_answered);
        messages_.texts.clear();
        messages_.details.clear();
        test::BoxPort* port = test::BoxPort::Of(link_);
        port->silent = false;
        ASSERT_EQ(link_.ConnectLink(1), 1);
        uint32_t silent_since = 0;
        port->tamper = [&](const sim::Exchange& ex, std::vector<uint8_t>&) {
            if (ex.word != last_answered || port->silent) return;
            port->silent = true;
            silent_since = clock_.now;
        };
        box_.ClearHistory();
        settings_.sys_input_select = 1;
        SyncFigures f;
        EXPECT_EQ(SynchroniseAll(link_, settings_, {}, &f), 0);
        const uint32_t took = clock_.now - silent_since;
        EXPECT_TRUE(f.silent);
        EXPECT_GT(f.not_sent, 0);
        EXPECT_LE(took, 5000u);
        // Only the frames of the silent transactions went out after the silence (each with
        // its resend), never a further pass.
        const auto after = std::find_if(box_.History().begin(), box_.History().end(),
                                        [&](const sim::Exchange& ex) { return ex.word == last_answered; });
        EXPECT_LE(box_.History().end() - after - 1, 2 * RS232c_bios::kSilentLimit);
        ASSERT_EQ(messages_.details.size(), 1u);
        EXPECT_NE(messages_.details[0].find(RS232c_bios::kSilentCause), std::string::npos);
        EXPECT_NE(messages_.texts[0].find("Give up!"), std::string::npos);
        port->tamper = nullptr;
    }
}

// A device pulled mid-pass ends the synchronisation there: no further frame, no further pass,
// and the session's cause as its detail and in the figures.
TEST_F(SyncTest, DeviceGoneMidPassEndsItWithTheSessionsCause) {
    test::BoxPort* port = test::BoxPort::Of(link_);
    port->tamper = [port](const sim::Exchange& ex, std::vector<uint8_t>&) {
        if (ex.word == "BACKL") port->gone = true;
    };
    settings_.sys_input_select = 1;
    SyncFigures figures;
    EXPECT_EQ(SynchroniseAll(link_, settings_, {}, &figures), 0);
    EXPECT_EQ(box_.History().back().word, "BACKL");
    EXPECT_EQ(figures.cause, "COM1: device gone");
    EXPECT_FALSE(figures.silent);
    EXPECT_GT(figures.not_sent, 0);
    EXPECT_TRUE(std::all_of(figures.failures.begin(), figures.failures.end(), [](const SyncFailure& f) { return f.pass == 1; }));
    ASSERT_EQ(messages_.details.size(), 1u);
    EXPECT_NE(messages_.details[0].find("the session ended: COM1: device gone"), std::string::npos) << messages_.details[0];
    EXPECT_NE(messages_.texts[0].find("1st try : error"), std::string::npos);
    EXPECT_EQ(messages_.texts[0].find("2nd try"), std::string::npos);
}

// What a synchronisation hands back is what the operator was shown, in order, the summary
// last; a stopped one has no summary.
TEST_F(SyncTest, TheFiguresHoldTheNoticesAsShownAndTheSummaryLast) {
    struct Case {
        const char* name;
        int load_adj_only;
        bool stop;
        std::size_t notices;
        const char* summary;  // the start of the summary's text; nullptr: none
    };
    const Case cases[] = {
        {"clean", 0, false, 1, "Update ZR-DPX20 all settings : Compleate!"},
        {"adjust only with 2D-3D off", 1, false, 4, "Update ZR-DPX20 all settings : error found!"},
        {"stopped", 0, true, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages_.texts.clear();
        messages_.details.clear();
        settings_.load_adj_only = c.load_adj_only;
        SyncFigures f;
        SynchroniseAll(link_, settings_, [&] { return c.stop; }, &f);
        ASSERT_EQ(f.notices.size(), c.notices);
        ASSERT_EQ(messages_.texts.size(), c.notices);
        for (std::size_t i = 0; i < c.notices; ++i) {
            EXPECT_EQ(f.notices[i].first, messages_.texts[i]);
            EXPECT_EQ(f.notices[i].second, messages_.details[i]);
        }
        if (!c.summary) {
            EXPECT_TRUE(f.summary.first.empty());
            continue;
        }
        EXPECT_EQ(f.summary, f.notices.back());
        EXPECT_EQ(f.summary.first.rfind(c.summary, 0), 0u) << f.summary.first;
    }
}

TEST_F(SyncTest, FailedFirstPassThenCleanSecond) {
    // SDIRT is refused until the first pass has moved on past it.
    bool refuse = true;
    test::BoxPort::Of(link_)->tamper = [&refuse](const sim::Exchange& ex, std::vector<uint8_t>& reply) {
        if (ex.word == "FRASY") refuse = false;
        if (ex.word == "SDIRT" && refuse) reply = sim::NakReply(1);
    };
    EXPECT_EQ(SynchroniseAll(link_, settings_), 1);
    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_EQ(Masked(messages_.texts[0]),
              "Update ZR-DPX20 all settings : error found!\n\n"
              "1st try : error = 1 times. process time = # mS.\n"
              "2nd try : process OK.      process time = # mS.\n");
}

TEST_F(SyncTest, DebugReportsAreOffDuringAPassAndOnAfterIt) {
    settings_.debug_mode = 1;
    link_.SetDebugMode(1);
    box_.Options().forced_nak["BEEPA"] = 1;
    EXPECT_EQ(SyncRun(link_, settings_), 0);
    EXPECT_TRUE(messages_.texts.empty());  // no diagnostic box for the failed frames
    EXPECT_EQ(link_.State().link_debug, 1);
}

TEST_F(SyncTest, AdjustOnlyPassSendsTheThreeValues) {
    settings_.load_adj_only = 1;
    settings_.sys_2D3D = 1;
    settings_.sys_input_select = 0;  // the input does not matter for this pass
    settings_.sys_adj3d_subi = 50;
    ASSERT_EQ(SyncRun(link_, settings_), 1);
    EXPECT_EQ(ValueWords(), (Words{"CONVE", "ADJPX", "ADJIY", "ADJSI"}));
    EXPECT_EQ(ValuesOf("CONVE"), std::vector<int>{1});
    EXPECT_EQ(box_.State().adjust[2], 50);
}

TEST_F(SyncTest, AdjustOnlyWithConversionOffIsRefusedThreeTimes) {
    settings_.load_adj_only = 1;
    settings_.debug_mode = 1;
    link_.SetDebugMode(1);
    EXPECT_EQ(SynchroniseAll(link_, settings_), 0);
    const std::string limitation =
        "Update only for 2D-3D Adjust value : error!\n\nNow 2D-3D conversion is OFF.\n"
        "This is a limitation.\nThe adjust value commands are only valid with 2D-3D on.";
    ASSERT_EQ(messages_.texts.size(), 4u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(messages_.texts[i], limitation);
    EXPECT_EQ(Masked(messages_.texts[3]),
              "Update ZR-DPX20 all settings : error found!\n\n"
              "1st try : error = 0 times. process time = # mS.\n"
              "2nd try : error = 0 times. process time = # mS.\n"
              "3rd try : error = 0 times. process time = # mS.\n\n"
              "Give up! Maybe better to restart this program.");
    EXPECT_TRUE(box_.History().empty());
    EXPECT_EQ(link_.State().link_debug, 1);
}

}  // namespace
}  // namespace dpx
