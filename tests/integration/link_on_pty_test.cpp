// The link over the real Qt serial backend against the dpx20sim process on a pseudo-terminal.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/RS232c_bios.h"
#include "model/CommandTable.h"
#include "model/SettingTable.h"
#include "platform/QtWorker.h"
#include "session/Session.h"
#include "platform/ComPorts.h"
#include "tests/support/Recorders.h"
#include "tests/support/SimProcess.h"

namespace dpx {
namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "integration_link_on_pty";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// A link on COM2, whose device is the simulator's link.
class LinkOnPty : public ::testing::Test {
protected:
    void SetUp() override { App(); }
    void TearDown() override { ::unsetenv("DPX20_COM2"); }

    std::unique_ptr<RS232c_bios> NewLink(const test::SimProcess& sim) {
        ::setenv("DPX20_COM2", sim.LinkPath().c_str(), 1);
        auto link = std::make_unique<RS232c_bios>();
        link->SetPortFactory(platform::MakePortFactory());
        link->SetDebugMode(0);
        EXPECT_EQ(link->SetComNumber(2), 1);
        return link;
    }

    test::MessageRecorder messages;
};

TEST_F(LinkOnPty, LoginAndOperationsChangeTheBox) {
    test::SimProcess sim;
    ASSERT_TRUE(sim.Ok()) << sim.Error();
    auto link = NewLink(sim);
    ASSERT_EQ(link->ConnectLink(1), 1) << link->State().report_text;
    EXPECT_EQ(link->State().link_connected, 1);
    EXPECT_EQ(link->SetInputSelect(1), 1);
    EXPECT_EQ(link->SetInputPorality(1), 1);  // INPUT not sent again
    EXPECT_EQ(link->SetBackLight(-30), 1);
    EXPECT_EQ(link->SetBackLight(31), 0);     // refused before sending

    auto state = sim.State();
    EXPECT_EQ(state["logged_in"], 1);
    EXPECT_EQ(state["sys_input_select"], 1);
    EXPECT_EQ(state["sys_input_porality"], 1);
    EXPECT_EQ(state["sys_bk_light"], -30);
    const std::vector<std::string> words = {"BCN10", "INPUT", "INPSE", "BOTHP", "MMENU", "BACKL"};
    EXPECT_EQ(sim.Words(), words);
    const std::vector<uint8_t> backl = {0x21, 0x30, 0x30, 0x42, 0x41, 0x43, 0x4B, 0x4C, 0x2D, 0xE2, 0x0D};
    EXPECT_EQ(sim.Frames().back(), backl);

    ASSERT_EQ(link->ConnectLink(0), 1);
    EXPECT_EQ(sim.State()["logged_in"], 0);
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(LinkOnPty, DroppedGarbledAndRefusedReplies) {
    test::SimProcess sim({"--drop", "SDIRT", "--garble", "FRASY", "--nak", "BEEPA=1", "--cut", "HDMIM:1"});
    ASSERT_TRUE(sim.Ok()) << sim.Error();
    auto link = NewLink(sim);
    ASSERT_EQ(link->ConnectLink(1), 1);

    EXPECT_EQ(link->SendCommand(kMMENU, 0, 0), kResultOk);
    EXPECT_EQ(link->SendCommand(kSDIRT, 0, 1), kResultTimeout);  // written twice, no reply
    EXPECT_EQ(link->SendCommand(kFRASY, 0, 0), kResultUndefined);
    EXPECT_EQ(link->SendCommand(kBEEPA, 0, 1), kResultParameterError);
    EXPECT_EQ(link->SendCommand(kOUTPU, 0, 0), kResultOk);
    // A reply cut short is a time-out; the resend gets a whole reply.
    EXPECT_EQ(link->SendCommand(kHDMIM, 0, 1), kResultOk);
    EXPECT_EQ(link->State().link_category, kCategoryOutput);

    const std::vector<std::string> words = {"BCN10", "MMENU", "SDIRT", "SDIRT", "FRASY", "BEEPA",
                                            "OUTPU", "HDMIM", "HDMIM"};
    EXPECT_EQ(sim.Words(), words);
    auto state = sim.State();
    EXPECT_EQ(state["sys_rotate"], 1);   // the box took it; only the reply was lost
    EXPECT_EQ(state["sys_beep"], 0);     // refused
    EXPECT_EQ(state["sys_hdmi_mix"], 1);
}

TEST_F(LinkOnPty, AdjustModeIsSentAgainAfterInvalidNow) {
    test::SimProcess sim({"--adjmd-busy", "60"});
    ASSERT_TRUE(sim.Ok()) << sim.Error();
    auto link = NewLink(sim);
    ASSERT_EQ(link->ConnectLink(1), 1);
    ASSERT_EQ(link->SetConversion(1), 1);  // a mode change: ADJMD is refused for 60 ms
    EXPECT_EQ(link->SetAdjustMode(4), 1);  // refused, then taken after the link's 100 ms wait
    EXPECT_EQ(sim.Words(), (std::vector<std::string>{"BCN10", "2D/3D", "CONVE", "ADJUS", "ADJMD", "ADJMD"}));
    EXPECT_EQ(sim.State()["sys_adj3d_mode"], 4);
}

TEST_F(LinkOnPty, SecondOpenOfTheSamePortIsRefused) {
    test::SimProcess sim;
    ASSERT_TRUE(sim.Ok()) << sim.Error();
    auto first = NewLink(sim);
    ASSERT_EQ(first->ConnectLink(1), 1);
    auto second = NewLink(sim);
    EXPECT_EQ(second->ConnectLink(1), 0);
    EXPECT_EQ(second->State().link_connected, 0);
    ASSERT_NE(second->Port(2), nullptr);
    EXPECT_NE(second->Port(2)->ErrorText().find("busy"), std::string::npos) << second->Port(2)->ErrorText();
    EXPECT_EQ(first->SetConversion(1), 1);  // the first holder is not disturbed
    EXPECT_EQ(sim.State()["sys_2D3D"], 1);
}

TEST_F(LinkOnPty, BoxGoneMidSessionThenBackAtTheNextConnect) {
    auto sim = std::make_unique<test::SimProcess>();
    ASSERT_TRUE(sim->Ok()) << sim->Error();
    const std::string path = sim->LinkPath();
    auto link = NewLink(*sim);
    ASSERT_EQ(link->ConnectLink(1), 1);
    ASSERT_EQ(link->SetConversion(1), 1);

    sim->Stop();  // the pseudo-terminal goes away under the open port
    EXPECT_EQ(link->SendCommand(k2D3D, 0, 0), kResultOk);  // skipped: already selected
    const int result = link->SendCommand(kCONVE, 0, 0);
    EXPECT_EQ(result, kResultNotSent);  // the write fails on the vanished device
    EXPECT_FALSE(link->Port(2)->IsUsable());
    // The vanished device ended the session as a failed open does; disconnecting is done.
    EXPECT_EQ(link->State().link_connected, 0);
    EXPECT_EQ(link->State().link_category, kCategoryUnknown);
    EXPECT_EQ(link->ConnectLink(0), 1);
    EXPECT_EQ(link->ConnectLink(1), 0);  // the device is missing now
    EXPECT_NE(link->State().link_failure.find("no such device"), std::string::npos) << link->State().link_failure;

    test::SimProcess again({}, path);  // the box comes back under the same name
    ASSERT_TRUE(again.Ok()) << again.Error();
    ASSERT_EQ(link->ConnectLink(1), 1) << link->Port(2)->ErrorText();
    EXPECT_EQ(link->SetConversion(0), 1);
    EXPECT_EQ(again.Words(), (std::vector<std::string>{"BCN10", "2D/3D", "CONVE"}));
    EXPECT_EQ(again.State()["logged_in"], 1);
}

// A session that owns its box ends it in order: the work asked for runs out first (it still
// refers to the session), its completions go nowhere, and the port is closed: the device can
// be opened again at once.
TEST_F(LinkOnPty, ASessionOwningItsBoxRunsOutItsWorkThenFreesThePort) {
    test::SimProcess sim;
    ASSERT_TRUE(sim.Ok()) << sim.Error();
    const Setting& beep = SettingOf(&SettingsRecord::sys_beep);
    std::vector<std::function<void()>> completions;  // handed back, never run
    {
        Session session(Session::Box{NewLink(sim), std::make_unique<platform::QtWorker>()},
                        std::filesystem::temp_directory_path());
        SettingsRecord run;
        run.com_port_num = 2;
        run.sys_sync_on = 0;
        ASSERT_TRUE(session.Connect(1, run, Source::kApi).ok);
        for (int i = 0; i < 3; ++i)
            session.Submit<bool>([&session, &beep, i] { return session.Change({{&beep, (i + 1) % 2}}, Source::kApi).ok; },
                                 [&completions](std::function<void()> done) { completions.push_back(std::move(done)); },
                                 [](bool) { ADD_FAILURE() << "a completion ran after its session ended"; });
    }
    const std::vector<std::string> words = sim.Words();
    EXPECT_EQ(std::count(words.begin(), words.end(), std::string(CommandTable[beep.command].word)), 3);
    EXPECT_EQ(completions.size(), 3u);
    auto again = NewLink(sim);
    EXPECT_EQ(again->ConnectLink(1), 1) << again->State().link_failure;
}

}  // namespace
}  // namespace dpx
