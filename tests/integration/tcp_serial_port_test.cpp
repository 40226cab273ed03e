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

#include "link/CommandTable.h"
#include "link/RS232c_bios.h"
#include "platform/ComPorts.h"
#include "platform/TelnetCodec.h"
#include "sim/BoxModel.h"
#include "tests/support/ScriptedServer.h"

namespace dpx {
namespace {

using Bytes = std::vector<uint8_t>;
using Codec = platform::TelnetCodec;
constexpr uint8_t IAC = Codec::kIac, SB = Codec::kSb, SE = Codec::kSe, COM = Codec::kComPortOption;
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

TEST_F(TcpSerialPortTest, RefusedOptionOrOtherLineSettingsFailTheOpenWithTheCause) {
    {
        ScriptedServer refusing([](int fd) { Put(fd, {IAC, Codec::kDont, COM}); });
        EXPECT_EQ(Connect(refusing.Url()), 0);
        EXPECT_EQ(link_.State().link_connected, 0);
        EXPECT_NE(link_.State().link_failure.find("refuses the COM-PORT-OPTION"), std::string::npos) << link_.State().link_failure;
    }
    ScriptedServer other([](int fd) { Negotiate(fd, 19200, 1); });  // no parity
    EXPECT_EQ(Connect(other.Url()), 0);
    EXPECT_NE(link_.State().link_failure.find("the server set 19200 baud 8N1 instead of 9600 8O1"), std::string::npos)
        << link_.State().link_failure;
}

TEST_F(TcpSerialPortTest, CommandsInsideRepliesAreNotDataAndAServerClosingMidReplyEndsTheSession) {
    ScriptedServer box([](int fd) {
        Negotiate(fd, 9600, Codec::kParityOdd);
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
    for (const char* good : {"socket://box.local:4001", "rfc2217://192.168.1.20:2217", "rfc2217://[::1]:2217"})
        EXPECT_TRUE(platform::CheckPortName(good, nullptr)) << good;
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
