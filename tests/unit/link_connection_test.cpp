// The link connection: choosing the COM port, logging in and off, and the 300 ms pacing.
#include "tests/unit/link_fixture.h"

namespace dpx::test {
namespace {

using Connection = LinkTest;

const std::string kLogin = "!00BCN1000\r";
const std::string kLogoff = "!00BCN0000\r";

TEST_F(Connection, PortNumberMessagesAreShownInEveryMode) {
    link.SetDebugMode(0);
    EXPECT_EQ(link.SetComNumber(0), 0);
    EXPECT_EQ(link.SetComNumber(9), 0);
    EXPECT_EQ(link.State().link_port, 1);
    Connect();
    EXPECT_EQ(link.SetComNumber(3), 0);
    EXPECT_EQ(link.State().link_port, 1);
    EXPECT_EQ(link.State().link_connected, 1);
    EXPECT_EQ(messages.texts, (std::vector<std::string>{
                                  "SetComNumber : COM port number is invalid!\nnumber = 0.",
                                  "SetComNumber : COM port number is invalid!\nnumber = 9.",
                                  "SetComNumber : COM1 is already started.\n\nIf you want to change it, please log off as first.",
                              }));
    EXPECT_EQ(link.State().report_text, messages.texts.back());
}

TEST_F(Connection, SelectingTheCurrentPortIsSilentEvenWhileConnected) {
    Connect();
    const uint32_t last = link.State().link_last_tick;
    EXPECT_EQ(link.SetComNumber(1), 1);
    EXPECT_EQ(link.State().link_connected, 1);
    EXPECT_EQ(link.State().link_last_tick, last);
    EXPECT_TRUE(messages.texts.empty());
}

// Changing the port opens and closes nothing; the login on the new port waits until 300 ms
// after the change.
TEST_F(Connection, PortChangeDelaysTheNextLogin) {
    Connect();
    ports[1]->replies = {Ack()};
    ASSERT_EQ(link.ConnectLink(0), 1);
    clock.Advance(5000);
    const uint32_t changed = clock.now;
    EXPECT_EQ(link.SetComNumber(3), 1);
    EXPECT_EQ(link.State().link_port, 3);
    EXPECT_EQ(link.State().link_last_tick, changed);
    EXPECT_FALSE(ports[3]->made);
    EXPECT_TRUE(ports[1]->is_open);

    ports[3]->replies = {Ack()};
    ASSERT_EQ(link.ConnectLink(1), 1);
    EXPECT_EQ(ports[3]->write_ticks, std::vector<uint32_t>{changed + 300});
    EXPECT_EQ(ports[3]->FrameText(0), kLogin);
    EXPECT_TRUE(ports[1]->is_open);  // the old port stays open
    EXPECT_EQ(ports[1]->frames.size(), 1u);  // only the logoff
}

TEST_F(Connection, LoginAndLogoff) {
    const uint32_t start = clock.now;  // the link was made now: the login waits 300 ms
    port->replies = {Ack()};
    EXPECT_EQ(link.ConnectLink(1), 1);
    EXPECT_EQ(port->FrameText(0), kLogin);
    EXPECT_EQ(port->write_ticks[0], start + 300);
    EXPECT_EQ(link.State().link_connected, 1);
    EXPECT_EQ(link.State().link_category, kCategoryNone);
    EXPECT_EQ(link.State().link_last_tick, start + 300);

    // A logoff long after the login goes at once.
    clock.Advance(2000);
    seam.State(link).link_category = kCategoryScope;
    port->replies = {Ack()};
    EXPECT_EQ(link.ConnectLink(0), 1);
    EXPECT_EQ(port->FrameText(1), kLogoff);
    EXPECT_EQ(port->write_ticks[1], start + 2300);
    EXPECT_EQ(link.State().link_connected, 0);
    EXPECT_EQ(link.State().link_category, kCategoryNone);
    EXPECT_TRUE(port->is_open);

    // Logging in again right after the logoff opens nothing and waits out the 300 ms.
    port->replies = {Ack()};
    EXPECT_EQ(link.ConnectLink(1), 1);
    EXPECT_EQ(port->open_calls, 1);
    EXPECT_EQ(port->write_ticks[2], start + 2600);
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(Connection, AlreadyInTheWantedState) {
    EXPECT_EQ(link.ConnectLink(0), 1);
    Connect();
    seam.State(link).link_category = kCategoryInput;
    EXPECT_EQ(link.ConnectLink(1), 1);
    EXPECT_EQ(link.State().link_category, kCategoryUnknown);
    EXPECT_EQ(messages.texts, (std::vector<std::string>{"COM Port already disconnected!", "COM Port already connected!"}));
    link.SetDebugMode(0);
    EXPECT_EQ(link.ConnectLink(1), 1);
    EXPECT_EQ(messages.texts.size(), 2u);
    EXPECT_TRUE(port->frames.empty());
}

TEST_F(Connection, VirtualModeKeepsTheState) {
    link.SetVirtualMode(1);
    EXPECT_EQ(link.ConnectLink(1), 1);
    EXPECT_EQ(link.State().link_connected, 0);
    seam.State(link).link_connected = 1;
    EXPECT_EQ(link.ConnectLink(0), 1);
    EXPECT_EQ(link.State().link_connected, 1);
    EXPECT_EQ(link.State().link_category, kCategoryUnknown);
    EXPECT_FALSE(port->made);
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(Connection, PortThatCannotOpen) {
    port->fail_open = true;
    EXPECT_EQ(link.ConnectLink(1), 0);
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{"Create COM1 port NG! handle = FFFFFFFF.", "Cannot Start Port!"}));
    EXPECT_EQ(link.State().link_connected, 0);
    EXPECT_EQ(link.State().link_category, kCategoryUnknown);

    link.SetDebugMode(0);
    EXPECT_EQ(link.ConnectLink(1), 0);
    EXPECT_EQ(messages.texts.size(), 2u);

    port->fail_open = false;  // plugged in now: the next connect opens it
    port->replies = {Ack()};
    EXPECT_EQ(link.ConnectLink(1), 1);
    EXPECT_EQ(port->open_calls, 3);
}

TEST_F(Connection, FailedLoginIsRetriedByTheCaller) {
    port->replies = {Nak(2)};
    EXPECT_EQ(link.ConnectLink(1), 0);
    ASSERT_EQ(messages.texts.size(), 2u);
    EXPECT_TRUE(messages.texts[0].starts_with("Following Command will(was) Sent!\n\ncmd = 0h(0),  param1 = 0h(0),  param2 = 00h(0)"));
    EXPECT_TRUE(messages.texts[0].ends_with("\n\nNAK received! status = 2 : invalid now"));
    EXPECT_EQ(messages.texts[1], "RemoteLogin : ERROR!");
    EXPECT_EQ(link.State().link_connected, 0);
    EXPECT_EQ(link.State().link_category, kCategoryUnknown);
    const uint32_t failed = link.State().link_last_tick;
    EXPECT_EQ(failed, clock.now);

    // A time-out is resent before the connect gives up; the next try waits 300 ms again.
    link.SetDebugMode(0);
    port->replies = {NoReply(), NoReply()};
    EXPECT_EQ(link.ConnectLink(1), 0);
    EXPECT_EQ(port->frames.size(), 3u);
    EXPECT_EQ(port->write_ticks[1], failed + 300);

    port->replies = {NoReply(), Ack()};
    EXPECT_EQ(link.ConnectLink(1), 1);
    EXPECT_EQ(port->frames.size(), 5u);
    EXPECT_EQ(port->FrameText(4), kLogin);
    EXPECT_EQ(messages.texts.size(), 2u);
}

TEST_F(Connection, FailedLogoffKeepsTheLinkConnected) {
    Connect();
    port->replies = {Nak(1)};
    EXPECT_EQ(link.ConnectLink(0), 0);
    EXPECT_EQ(messages.texts.back(), "RemoteLogoff : ERROR!");
    EXPECT_EQ(link.State().link_connected, 1);
    EXPECT_EQ(link.State().link_category, kCategoryUnknown);
    port->replies = {Ack()};
    EXPECT_EQ(link.ConnectLink(0), 1);
    EXPECT_EQ(port->FrameText(1), kLogoff);
    EXPECT_EQ(link.State().link_connected, 0);
}

// A port on a network serial server is given up whenever the link is left logged off (a
// server may take one client at a time): after a logoff, after a failed login, and when
// another COM number is chosen. A local device stays open.
TEST_F(Connection, NetworkPortsAreClosedWhileLoggedOff) {
    link.SetDebugMode(0);
    for (const bool network : {false, true}) {
        port->network = network;
        Connect();
        port->replies = {Ack()};
        ASSERT_EQ(link.ConnectLink(0), 1);
        EXPECT_EQ(port->is_open, !network) << "logoff";
        port->replies = {Nak(2)};
        EXPECT_EQ(link.ConnectLink(1), 0);
        EXPECT_EQ(port->is_open, !network) << "failed login";
        ASSERT_EQ(link.OpenComPort(), 1);
        ASSERT_EQ(link.SetComNumber(2), 1);
        EXPECT_EQ(port->is_open, !network) << "other COM number";
        ASSERT_EQ(link.SetComNumber(1), 1);
    }
    EXPECT_EQ(port->close_calls, 3);
    EXPECT_EQ(port->open_calls, 3);  // first, then again by each open after a close
}

// A COM number whose device name changed keeps its port for the session in progress (the
// logoff goes to the box logged in) and gets a new one at the next connect.
TEST_F(Connection, ChangedDeviceNameTakesEffectAtTheNextConnect) {
    std::string name = "COM1";
    std::vector<ScriptedPort*> made;
    link.SetPortFactory(
        [&made](int n) {
            auto port = std::make_unique<ScriptedPort>(n);
            port->responder = [](const Frame&) { return Bytes("@00BOK.000\r"); };
            made.push_back(port.get());
            return std::unique_ptr<SerialPort>(std::move(port));
        },
        [&name](int) { return name; });
    ASSERT_EQ(link.ConnectLink(1), 1);
    ASSERT_EQ(link.ConnectLink(0), 1);
    ASSERT_EQ(link.ConnectLink(1), 1);
    ASSERT_EQ(made.size(), 1u);  // the same name: the open port is kept

    name = "/dev/ttyUSB1";
    EXPECT_EQ(link.ConnectLink(0), 1);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->FrameText(made[0]->frames.size() - 1), kLogoff);
    EXPECT_EQ(link.ConnectLink(1), 1);
    ASSERT_EQ(made.size(), 2u);
    EXPECT_EQ(made[1]->FrameText(0), kLogin);
}

// A device that vanished while connected ends the session as a failed open does: clearing
// CONNECT then succeeds at once, and the next connect opens the device again and logs in.
TEST_F(Connection, VanishedDeviceEndsTheSessionAndTheNextConnectReopens) {
    Connect();
    link.SetDebugMode(0);
    port->Vanish();
    EXPECT_EQ(link.SendCommand(kINPUT, 0, 0), kResultNotSent);
    EXPECT_EQ(port->failed_writes, 1);
    EXPECT_EQ(link.State().link_connected, 0);
    EXPECT_EQ(link.State().link_category, kCategoryUnknown);
    EXPECT_EQ(link.State().link_failure, port->ErrorText());

    EXPECT_EQ(link.ConnectLink(0), 1);
    EXPECT_EQ(port->open_calls, 1);
    port->replies = {Ack()};
    EXPECT_EQ(link.ConnectLink(1), 1);
    EXPECT_EQ(port->open_calls, 2);
    EXPECT_EQ(port->apply_settings_calls, 2);
    EXPECT_EQ(port->FrameText(0), kLogin);

    // Gone in the middle of a write, then still missing at the next connect.
    port->replies = {GoneAtWrite()};
    EXPECT_EQ(link.SendCommand(kINPUT, 0, 0), kResultNotSent);
    EXPECT_EQ(link.State().link_connected, 0);
    port->fail_open = true;
    EXPECT_EQ(link.ConnectLink(1), 0);
    EXPECT_EQ(link.State().link_failure, port->ErrorText());
    port->fail_open = false;
    port->replies = {Ack()};
    EXPECT_EQ(link.ConnectLink(1), 1);
    EXPECT_EQ(port->open_calls, 4);
    EXPECT_EQ(port->FrameText(port->frames.size() - 1), kLogin);
}

// However the vanished device is found, the session ends once: the handler is told once, a
// debug report is shown at most once, and what later commands wanted to send is traced.
TEST_F(Connection, AVanishedDeviceEndsTheSessionOnceAndLaterCommandsAreTraced) {
    const struct {
        const char* found_by;
        bool idle;
        std::size_t debug_reports;
    } cases[] = {{"a command", false, 1}, {"the port between commands", true, 0}};
    int told = 0;
    link.SetDeviceGoneHandler([&] { ++told; });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.found_by);
        Connect();
        messages.texts.clear();
        told = 0;
        c.idle ? port->VanishWhileIdle() : (port->Vanish(), void(link.SendCommand(kINPUT, 0, 0)));
        EXPECT_EQ(link.State().link_connected, 0);
        EXPECT_EQ(link.SetInputSelect(2), 0);
        EXPECT_EQ(told, 1);
        EXPECT_EQ(messages.texts.size(), c.debug_reports);  // debug mode is on
        uint8_t frame[kFrameBufferSize];
        BuildFrame(kINPSE, 0, 2, frame);
        const FrameTrace::Entry& last = link.Trace().Entries().back();
        EXPECT_EQ(last.kind, FrameTrace::Kind::kNotSent);
        EXPECT_EQ(last.bytes, std::string(reinterpret_cast<const char*>(frame), kFrameSize));
        EXPECT_NE(last.text.find(port->ErrorText()), std::string::npos) << last.text;
    }
}

}  // namespace
}  // namespace dpx::test
