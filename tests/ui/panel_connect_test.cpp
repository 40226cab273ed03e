// CONNECT: the three tries with the pause before the third, the wait after, the automatic
// synchronisation, virtual mode, and COM port changes while connected.
#include "tests/ui/panel_fixture.h"

#include <algorithm>

namespace dpx::test {
namespace {

using namespace panel;

class ConnectTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        WriteOptions(SettingsRecord{});
    }
    // Login frames the box received, each with the fake time it came at.
    std::vector<uint32_t> LoginTimes() const { return login_times_; }
    void RecordLogins() {
        for (BoxPort* port : ports_) {
            port->tamper = [this](const sim::Exchange& ex, std::vector<uint8_t>&) {
                if (ex.command == kBCN_Login) login_times_.push_back(clock_.now);
            };
        }
    }
    std::vector<uint32_t> login_times_;
};

// Login frames one failed ConnectLink sends to a silent box (the link's own resend rule).
size_t LoginFramesOfOneFailedTry() {
    FakeClock clock;
    MessageRecorder messages;
    sim::BoxModel box;
    RS232c_bios link;
    link.SetPortFactory([&box](int n) -> std::unique_ptr<SerialPort> {
        auto port = std::make_unique<BoxPort>(box, n);
        port->silent = true;
        return port;
    });
    link.SetDebugMode(0);
    link.SetComNumber(1);
    link.ConnectLink(1);
    return box.History().size();
}

TEST_F(ConnectTest, SilentBoxThreeTriesPauseThenTheMessage) {
    silent_ = true;
    Start();
    link_.OpenComPort();  // make the port now, so that its frames can be timed
    RecordLogins();
    Remove("dpx20remote.ini");
    clock_.waits.clear();

    Click(kConnect);
    const size_t per_try = LoginFramesOfOneFailedTry();
    ASSERT_GT(per_try, 0u);
    ASSERT_EQ(login_times_.size(), 3 * per_try);  // three logins; the opposite call sends nothing
    EXPECT_GE(login_times_[2 * per_try] - login_times_[2 * per_try - 1], 1500u);
    EXPECT_EQ(std::count(clock_.waits.begin(), clock_.waits.end(), 1500u), 1);
    EXPECT_EQ(clock_.waits.back(), 500u);
    EXPECT_EQ(messages_.texts,
              std::vector<std::string>{"Connect error! : 3 times retry, but cannot connect."});
    EXPECT_FALSE(Checked(kConnect));
    EXPECT_FALSE(Wanted());
    EXPECT_EQ(link_.State().link_no_ack, 0);  // back to the setting after the third try
    EXPECT_FALSE(Exists("dpx20remote.ini"));  // CONNECT writes no file
}

TEST_F(ConnectTest, NoAckSettingIsRestoredAfterTheThirdTry) {
    SettingsRecord saved;
    saved.sys_no_ack = 1;
    WriteOptions(saved);
    silent_ = true;
    Start();
    Click(kConnect);
    // With ACK checking off the silent box counts as connected at once.
    EXPECT_TRUE(Checked(kConnect));
    EXPECT_EQ(link_.State().link_no_ack, 1);
}

TEST_F(ConnectTest, ConnectWithSyncPushesEverySetting) {
    SettingsRecord r;
    r.sys_input_select = 2;
    r.sys_2D3D = 1;
    WriteOptions(r);
    Start();
    Click(kConnect);
    EXPECT_TRUE(Wanted());
    EXPECT_TRUE(Checked(kConnect));
    EXPECT_EQ(link_.State().link_connected, 1);
    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_EQ(messages_.texts[0].rfind("Update ZR-DPX20 all settings : Compleate!\nProcess time = ", 0), 0u);
    EXPECT_EQ(box_.State().input_select, 2);
    EXPECT_EQ(box_.State().conversion, 1);
}

TEST_F(ConnectTest, ConnectWithoutSyncWaitsHalfASecondAndSaysNothing) {
    Start();
    Click(kSyncOn);
    EXPECT_EQ(Settings().sys_sync_on, 0);
    clock_.waits.clear();
    Click(kConnect);
    EXPECT_TRUE(Wanted());
    EXPECT_TRUE(messages_.texts.empty());
    EXPECT_EQ(clock_.waits.back(), 500u);
    EXPECT_TRUE(ValueWords().empty());

    // And off again: a logoff.
    box_.ClearHistory();
    Click(kConnect);
    EXPECT_FALSE(Wanted());
    EXPECT_EQ(link_.State().link_connected, 0);
    ASSERT_FALSE(box_.History().empty());
    EXPECT_EQ(box_.History().back().command, kBCN_Logoff);
    EXPECT_FALSE(box_.State().logged_in);
}

TEST_F(ConnectTest, VirtualModeConnectsAtOnceWithTheSyncReport) {
    Start();
    Click(kVirtualMode);
    EXPECT_EQ(link_.State().link_virtual, 1);
    EXPECT_EQ(ReadFile("dpx20remote.ini"), LiveText());
    Click(kConnect);
    EXPECT_TRUE(Wanted());
    EXPECT_TRUE(Checked(kConnect));
    EXPECT_EQ(messages_.texts,
              std::vector<std::string>{"Update ZR-DPX20 all settings : Compleate!\nProcess time = 0 mS."});
    EXPECT_TRUE(box_.History().empty());
}

TEST_F(ConnectTest, AnotherComPortWhileConnectedIsRefused) {
    Start();
    Click(kSyncOn);
    Click(kConnect);
    ASSERT_TRUE(Wanted());
    messages_.texts.clear();
    Remove("dpx20remote.ini");

    Click(ComPortRadio(3));
    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_NE(messages_.texts[0].find("already started"), std::string::npos) << messages_.texts[0];
    EXPECT_EQ(Settings().com_port_num, 1);
    EXPECT_EQ(SelectedComPorts(), std::vector<int>{1});
    EXPECT_EQ(ReadFile("dpx20remote.ini"), LiveText());  // written all the same

    // The same port again is accepted while connected.
    messages_.texts.clear();
    Click(ComPortRadio(1));
    EXPECT_TRUE(messages_.texts.empty());
    EXPECT_EQ(SelectedComPorts(), std::vector<int>{1});
}

TEST_F(ConnectTest, DisconnectedPortChoiceGoesToTheLink) {
    Start();
    Click(ComPortRadio(6));
    EXPECT_EQ(Settings().com_port_num, 6);
    EXPECT_EQ(link_.State().link_port, 6);
    EXPECT_EQ(SelectedComPorts(), std::vector<int>{6});
    EXPECT_EQ(ReadFile("dpx20remote.ini"), LiveText());
    EXPECT_TRUE(ports_.empty());  // choosing opens nothing
}

}  // namespace
}  // namespace dpx::test
