// The network serial ports against servers that misbehave, played by a scripted server on
// loopback; and the forms of a network port name.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "model/CommandTable.h"
#include "link/RS232c_bios.h"
#include "platform/ComPorts.h"
#include "telnet/TelnetCodec.h"
#include "sim/BoxModel.h"
#include "tests/support/ScriptedServer.h"

namespace dpx {
namespace {

using Bytes = std::vector<uint8_t>;
using Codec = platform::TelnetCodec;
constexpr uint8_t IAC = Codec::kIac, SB = Codec::kSb, SE = Codec::kSe, COM = Codec::kComPortOption;
using test::Answers;
using test::Negotiate;
using test::Put;
using test::ScriptedServer;

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "integration_tcp_serial_port";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Reads one frame of data bytes from the client, its Telnet commands left out (they have
// the shape of the server's, so the codec takes them out too); false at the end.
bool ReadFrame(int fd, Codec& codec, Bytes& pending, Bytes* frame) {
    Bytes ignored;
    while (pending.size() < kFrameSize) {
        pollfd p{fd, POLLIN, 0};
        uint8_t buf[256];
        if (::poll(&p, 1, 3000) <= 0) return false;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return false;
        codec.Feed(buf, static_cast<size_t>(n), &pending, &ignored);
    }
    frame->assign(pending.begin(), pending.begin() + kFrameSize);
    pending.erase(pending.begin(), pending.begin() + kFrameSize);
    return true;
}

const Bytes kTakesOffers = test::TakesOffers();

// Answers every frame with an ACK, preceded by `before` from the second frame on (the
// first is the login); after the second, `then` runs.
void AckFrames(int fd, const Bytes& before = {}, const std::function<void()>& then = {}) {
    Codec codec;
    Bytes pending, frame;
    const Bytes ack = sim::AckReply();
    for (int n = 0; ReadFrame(fd, codec, pending, &frame); ++n) {
        Bytes reply = n > 0 ? before : Bytes{};
        reply.insert(reply.end(), ack.begin(), ack.end());
        Put(fd, reply);
        if (n == 1 && then) then();
    }
}

class TcpSerialPortTest : public ::testing::Test {
protected:
    void SetUp() override { App(); }
    void TearDown() override { ::unsetenv("DPX20_COM3"); }
    // Connects a link on COM3 to `url`; the result of ConnectLink(1).
    int Connect(const std::string& url) {
        ::setenv("DPX20_COM3", url.c_str(), 1);
        link_.SetPortFactory(platform::MakePortFactory(), platform::ComDeviceName);
        link_.SetDebugMode(0);
        EXPECT_EQ(link_.SetComNumber(3), 1);
        return link_.ConnectLink(1);
    }
    RS232c_bios link_;
};

// Each server that breaks a rule fails the connect with a cause naming what it did; the
// last one never answers SET-CONTROL, which the port name says.
TEST_F(TcpSerialPortTest, ServersThatBreakTheRulesFailTheConnectWithTheCause) {
    struct Case {
        const char* name;
        Bytes opening, answers;
        bool close_after_opening;
        const char* options;
        const char* cause;  // empty: the connect succeeds
    };
    const std::string in_use = "Port already in use\r\n";
    Bytes opening_in_use = kTakesOffers;
    opening_in_use.insert(opening_in_use.end(), in_use.begin(), in_use.end());
    const Bytes no_set_control = Answers(9600, Codec::kParityOdd, 0);
    // A notification whose end (IAC SE) never comes, and nothing after it.
    Bytes unended = kTakesOffers;
    unended.insert(unended.end(), {IAC, Codec::kSb, COM, Codec::kNotifyLineState + Codec::kServerOffset, 0});
    const std::vector<Case> cases = {
        {"no COM-PORT-OPTION", {IAC, Codec::kDont, COM}, {}, true, "", "refuses the COM-PORT-OPTION"},
        {"no binary towards it",
         {IAC, Codec::kDo, COM, IAC, Codec::kDont, Codec::kBinary, IAC, Codec::kWill, Codec::kBinary}, {}, true, "",
         "refuses binary transmission (Telnet BINARY) towards the server"},
        {"other line", kTakesOffers, Answers(19200, 1, 1), false, "", "the server set 19200 baud 8N1 instead of 9600 8O1"},
        {"hardware flow", kTakesOffers, Answers(9600, Codec::kParityOdd, Codec::kControlHardwareFlow), false, "",
         "the server set hardware flow control instead of none"},
        {"silent on SET-CONTROL", kTakesOffers, no_set_control, false, "",
         "no answer within 2 s to flow control (SET-CONTROL); for a server that never answers SET-CONTROL, add "
         "?ign_set_control"},
        {"in use", opening_in_use, {}, true, "", "in use by another client of the server (server said: Port already in use)"},
        {"silent on SET-CONTROL, told so", kTakesOffers, no_set_control, false, "?ign_set_control", ""},
        {"subnegotiation never ended", unended, {}, false, "", "NOTIFY-LINESTATE 0x00) and has not ended it (IAC SE)"},
    };
    for (const Case& c : cases) {
        ScriptedServer server([&c](int fd) {
            if (c.close_after_opening) return Put(fd, c.opening);
            Negotiate(fd, c.opening, c.answers);
            AckFrames(fd);
        });
        const int connected = Connect(server.Url() + c.options);
        EXPECT_EQ(connected, *c.cause ? 0 : 1) << c.name;
        EXPECT_NE(link_.State().link_failure.find(c.cause), std::string::npos) << c.name << ": " << link_.State().link_failure;
        if (connected) {
            EXPECT_EQ(link_.ConnectLink(0), 1);
        }
    }
}

// While the server holds our output back no frame goes out; a hold longer than a second
// is a port failure: the write fails and the session ends, with the cause.
TEST_F(TcpSerialPortTest, NoFrameIsWrittenWhileTheServerSuspendsOurOutput) {
    constexpr int kHoldMs = 600;
    const Bytes suspend = {IAC, SB, COM, 108, IAC, SE}, resume = {IAC, SB, COM, 109, IAC, SE};
    std::atomic<bool> written_while_held = false;
    ScriptedServer server([&](int fd) {
        Negotiate(fd);
        // Every ACK after the login holds our output; after the first, see that nothing
        // comes, then let it go. The second is never let go.
        AckFrames(fd, suspend, [&] {
            pollfd p{fd, POLLIN, 0};
            written_while_held = ::poll(&p, 1, kHoldMs) > 0;
            Put(fd, resume);
        });
    });
    ASSERT_EQ(Connect(server.Url()), 1) << link_.State().link_failure;
    EXPECT_EQ(link_.SendCommand(kMMENU, 0, 0), kResultOk);
    EXPECT_EQ(link_.SendCommand(kBACKL, '+', 1), kResultOk);
    EXPECT_FALSE(written_while_held);
    EXPECT_EQ(link_.SendCommand(kBACKL, '+', 2), kResultNotSent);
    EXPECT_NE(link_.State().link_failure.find("(FLOWCONTROL-SUSPEND) for more than 1 s"), std::string::npos)
        << link_.State().link_failure;
    EXPECT_EQ(link_.State().link_connected, 0);
    EXPECT_FALSE(link_.Port(3)->IsUsable());
}

// A server that takes binary transmission back mid-session (WONT or DONT BINARY, here with the
// reply to the frame after the login) ends the session with the cause, as a refusal at the
// open fails it: from then on frame and reply bytes could be changed on the way.
TEST_F(TcpSerialPortTest, BinaryTakenBackMidSessionEndsTheSessionWithTheCause) {
    const std::pair<Bytes, const char*> cases[] = {
        {{IAC, Codec::kWont, Codec::kBinary}, "off mid-session from the server"},
        {{IAC, Codec::kDont, Codec::kBinary}, "off mid-session towards the server"},
    };
    for (const auto& [taken_back, cause] : cases) {
        SCOPED_TRACE(cause);
        ScriptedServer server([&taken_back = taken_back](int fd) {
            Negotiate(fd);
            AckFrames(fd, taken_back);
        });
        ASSERT_EQ(Connect(server.Url()), 1) << link_.State().link_failure;
        EXPECT_NE(link_.SendCommand(kMMENU, 0, 0), kResultOk);
        EXPECT_EQ(link_.State().link_connected, 0);
        EXPECT_NE(link_.State().link_failure.find(std::string("turned binary transmission (Telnet BINARY) ") + cause),
                  std::string::npos)
            << link_.State().link_failure;
    }
}

TEST_F(TcpSerialPortTest, CommandsInsideRepliesAreNotDataAndAServerClosingMidReplyEndsTheSession) {
    ScriptedServer box([](int fd) {
        Negotiate(fd);
        const Bytes ack = sim::AckReply();
        Codec codec;
        Bytes pending, frame;
        for (int n = 0; ReadFrame(fd, codec, pending, &frame); ++n) {
            if (n == 1) {  // the frame after the login gets half a reply, then the connection closes
                Put(fd, Bytes(ack.begin(), ack.begin() + 2));
                return;
            }
            // A line state notification, an offer and a no-op in the middle of the reply.
            Bytes reply(ack.begin(), ack.begin() + 1);
            reply.insert(reply.end(), {IAC, SB, COM, 106, 0x60, IAC, SE, IAC, Codec::kWill, 1, IAC, 241});
            reply.insert(reply.end(), ack.begin() + 1, ack.end());
            Put(fd, reply);
        }
    });
    ASSERT_EQ(Connect(box.Url()), 1) << link_.State().link_failure;  // the login
    // The bytes that came before the close are no reply.
    EXPECT_EQ(link_.SendCommand(kBACKL, '+', 1), kResultUndefined);
    EXPECT_EQ(link_.State().link_connected, 0);
    EXPECT_NE(link_.State().link_failure.find("connection lost"), std::string::npos) << link_.State().link_failure;
}

TEST(NetworkPortName, FormsAreCheckedAndDescribed) {
    for (const char* good : {"socket://box.local:4001", "rfc2217://192.168.1.20:2217", "rfc2217://[::1]:2217",
                             "rfc2217://box:2217?ign_set_control"})
        EXPECT_TRUE(platform::CheckPortName(good, nullptr)) << good;
    for (const char* unknown : {"rfc2217://box:2217?logging=debug", "rfc2217://box:2217?ign_set_control&x",
                                "socket://box:4001?ign_set_control", "rfc2217://box:2217?"}) {
        std::string why;
        EXPECT_FALSE(platform::CheckPortName(unknown, &why)) << unknown;
        EXPECT_NE(why.find("Unknown option"), std::string::npos) << unknown;
    }
    for (const char* bad : {"rfc2217://box", "socket://:4001", "rfc2217://::1:2217", "socket://box:70000",
                            "socket://box:port"}) {
        std::string why;
        EXPECT_FALSE(platform::CheckPortName(bad, &why)) << bad;
        EXPECT_NE(why.find("HOST:PORT"), std::string::npos) << bad;
    }
    ::setenv("DPX20_COM4", "rfc2217://[::1]:2217", 1);
    EXPECT_EQ(platform::DescribeComPort(4), "rfc2217://[::1]:2217 (serial device server, RFC 2217)");
    ::unsetenv("DPX20_COM4");
}

}  // namespace
}  // namespace dpx
