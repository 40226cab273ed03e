// The link through a real ser2net serving dpx20sim's pseudo-terminal, in raw TCP and in
// RFC 2217 mode: login, a synchronisation, every byte value, a server that goes away
// mid-session and comes back, and a server left at its defaults.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sync/Synchronise.h"
#include "model/CommandTable.h"
#include "link/RS232c_bios.h"
#include "platform/ComPorts.h"
#include "tests/support/Recorders.h"
#include "tests/support/Ser2netProcess.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestApp.h"
#include "tests/support/TestSeam.h"

namespace dpx {
namespace {

using Mode = test::Ser2netProcess::Mode;

class NetworkPortTest : public ::testing::TestWithParam<Mode> {
protected:
    void SetUp() override {
        test::TestApp();
        ASSERT_TRUE(sim_.Ok()) << sim_.Error();
        server_ = std::make_unique<test::Ser2netProcess>(sim_.LinkPath(), GetParam());
        ASSERT_TRUE(server_->Ok()) << server_->Error();
        ::setenv("DPX20_COM1", server_->Url().c_str(), 1);
        link_.SetPortFactory(platform::MakePortFactory(), platform::ComDeviceName);
        link_.SetDebugMode(0);
        ASSERT_EQ(link_.SetComNumber(1), 1);
    }
    void TearDown() override {
        ::unsetenv("DPX20_COM1");
    }

    test::SimProcess sim_;
    std::unique_ptr<test::Ser2netProcess> server_;
    RS232c_bios link_;
    test::MessageRecorder messages_;
    TestSeam seam_;
};

TEST_P(NetworkPortTest, LoginSynchronisationAndEveryByteValue) {
    ASSERT_EQ(link_.ConnectLink(1), 1) << link_.State().link_failure;
    SettingsRecord s;
    s.sys_input_select = 3;  // HDMI, conversion on: the longest pass
    s.sys_2D3D = 1;
    s.sys_bk_light = -7;
    s.sys_rotate = 2;
    s.sys_adj3d_mode = 5;
    s.sys_adj3d_para = 50;
    const int synchronised = SynchroniseAll(link_, s);
    ASSERT_EQ(synchronised, 1) << (messages_.texts.empty() ? "" : messages_.texts.back());
    std::map<std::string, long> state = sim_.State();
    EXPECT_EQ(state["logged_in"], 1);
    EXPECT_EQ(state["sys_input_select"], 3);
    EXPECT_EQ(state["sys_2D3D"], 1);
    EXPECT_EQ(state["sys_bk_light"], -7);
    EXPECT_EQ(state["sys_rotate"], 2);
    EXPECT_EQ(state["sys_adj3d_mode"], 5);
    EXPECT_EQ(state["sys_adj3d_para"], 50);
    // Each frame arrived whole and once: no reply was lost or garbled on the way.
    for (const std::string& line : sim_.LogLines()) EXPECT_EQ(line.find("\tfail\t"), std::string::npos) << line;

    // Every value byte, 0xFF (IAC) and the Telnet command bytes among them, reaches the box
    // as it is, and every reply is understood (the box refuses values out of range).
    ASSERT_EQ(link_.SendCommand(kMMENU, 0, 0), kResultOk);  // the back light's menu
    const size_t frames = sim_.Frames().size();
    for (int v = -128; v < 128; ++v) {
        const int r = link_.SendCommand(kBACKL, v < 0 ? '-' : '+', static_cast<int8_t>(v));
        EXPECT_TRUE(r == kResultOk || r == kResultParameterError) << v << ": " << r;
    }
    std::vector<std::vector<uint8_t>> all = sim_.Frames();
    ASSERT_EQ(all.size(), frames + 256);
    for (size_t i = frames; i < all.size(); ++i) {
        ASSERT_EQ(all[i].size(), kFrameSize);
        EXPECT_EQ(all[i][9], static_cast<uint8_t>(i - frames - 128));
    }
    EXPECT_EQ(sim_.State()["sys_bk_light"], 30);
}

TEST_P(NetworkPortTest, ServerGoneMidSessionThenBackAtTheNextConnect) {
    ASSERT_EQ(link_.ConnectLink(1), 1) << link_.State().link_failure;
    ASSERT_EQ(link_.SetConversion(1), 1);
    const int port = server_->Port();
    server_->Stop();  // the connection drops under the open port

    EXPECT_EQ(link_.SendCommand(kCONVE, 0, 0), kResultNotSent);
    EXPECT_FALSE(link_.Port(1)->IsUsable());
    EXPECT_EQ(link_.State().link_connected, 0);
    EXPECT_EQ(link_.State().link_category, kCategoryUnknown);
    EXPECT_EQ(link_.ConnectLink(0), 1);
    EXPECT_EQ(link_.ConnectLink(1), 0);
    EXPECT_NE(link_.State().link_failure.find("connection refused"), std::string::npos) << link_.State().link_failure;

    test::Ser2netProcess again(sim_.LinkPath(), GetParam(), port);
    ASSERT_TRUE(again.Ok()) << again.Error();
    ASSERT_EQ(link_.ConnectLink(1), 1) << link_.State().link_failure;
    EXPECT_EQ(link_.SetConversion(0), 1);
    EXPECT_EQ(sim_.State()["sys_2D3D"], 0);
    EXPECT_EQ(sim_.Words(), (std::vector<std::string>{"BCN10", "2D/3D", "CONVE", "BCN10", "2D/3D", "CONVE"}));
}

// Through a server with ser2net's defaults (Nagle's algorithm and the character delay on)
// every reply comes within the limit: 100 commands, no frame resent.
TEST_P(NetworkPortTest, ServerDefaultsAnswerEveryCommandInTime) {
    server_ = std::make_unique<test::Ser2netProcess>(sim_.LinkPath(), GetParam(), 0,
                                                     test::Ser2netProcess::Tuning::kDefaults);
    ASSERT_TRUE(server_->Ok()) << server_->Error();
    ::setenv("DPX20_COM1", server_->Url().c_str(), 1);
    ASSERT_EQ(link_.ConnectLink(1), 1) << link_.State().link_failure;
    ASSERT_EQ(link_.SendCommand(kMMENU, 0, 0), kResultOk);
    const size_t frames = sim_.Frames().size();
    for (int i = 0; i < 100; ++i) ASSERT_EQ(link_.SendCommand(kBACKL, '+', static_cast<int8_t>(i % 30)), kResultOk) << i;
    EXPECT_EQ(sim_.Frames().size(), frames + 100);
}

// A server that goes away while the link idles ends the session from the event loop, at once.
TEST_P(NetworkPortTest, ServerGoneWhileIdleEndsTheSessionAtOnce) {
    ASSERT_EQ(link_.ConnectLink(1), 1) << link_.State().link_failure;
    int told = 0;
    link_.SetDeviceGoneHandler([&] { ++told; });
    server_->Stop();
    QDeadlineTimer deadline(3000);
    while (told == 0 && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(told, 1);
    EXPECT_EQ(link_.State().link_connected, 0);
    EXPECT_FALSE(link_.Port(1)->IsUsable());
    EXPECT_NE(link_.State().link_failure.find("connection lost"), std::string::npos) << link_.State().link_failure;
}

INSTANTIATE_TEST_SUITE_P(Ser2net, NetworkPortTest, ::testing::Values(Mode::kRaw, Mode::kRfc2217),
                         [](const auto& info) { return info.param == Mode::kRaw ? "Raw" : "Rfc2217"; });

}  // namespace
}  // namespace dpx
