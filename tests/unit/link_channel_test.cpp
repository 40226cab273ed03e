// The serial channel: opening and configuring ports, writing a frame, and reading and
// classifying a reply within the time limits.
#include <climits>
#include <cstring>

#include "tests/unit/link_fixture.h"

namespace dpx::test {
namespace {

using ChannelOpen = LinkTest;

TEST_F(ChannelOpen, OpensAndConfiguresOnceThenKeepsThePort) {
    ASSERT_EQ(link.OpenComPort(), 1);
    ASSERT_EQ(link.OpenComPort(), 1);
    EXPECT_EQ(port->open_calls, 1);
    EXPECT_EQ(port->read_settings_calls, 1);
    EXPECT_EQ(port->apply_settings_calls, 1);
    EXPECT_EQ(port->apply_timeouts_calls, 1);
    EXPECT_TRUE(port->is_open);
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(ChannelOpen, InvalidPortNumberIsShownInEveryMode) {
    link.SetDebugMode(0);
    for (int n : {0, 9, -3}) {
        seam.State(link).link_port = n;
        EXPECT_EQ(link.OpenComPort(), 0);
        EXPECT_EQ(messages.texts.back(), Printf("COM port number is invalid!\nnumber = %d.", n));
    }
    EXPECT_EQ(messages.texts.size(), 3u);
}

TEST_F(ChannelOpen, FailedOpenIsTriedAgainNextTime) {
    seam.State(link).link_port = 3;
    ports[3]->open_failures = 1;
    EXPECT_EQ(link.OpenComPort(), 0);
    EXPECT_EQ(link.State().report_text, "Create COM3 port NG! handle = FFFFFFFF.");
    EXPECT_EQ(messages.texts, std::vector<std::string>{"Create COM3 port NG! handle = FFFFFFFF."});
    EXPECT_EQ(link.OpenComPort(), 1);
    EXPECT_EQ(ports[3]->open_calls, 2);
    EXPECT_EQ(messages.texts.size(), 1u);
}

TEST_F(ChannelOpen, OpenFailureIsSilentWithoutDebug) {
    link.SetDebugMode(0);
    port->fail_open = true;
    EXPECT_EQ(link.OpenComPort(), 0);
    EXPECT_TRUE(messages.texts.empty());
}

// A port whose settings could not be applied is not reported ready: the next open
// configures it again (without reopening the device).
TEST_F(ChannelOpen, SettingsFailuresAreShownAndRetried) {
    port->fail_read_settings = true;
    EXPECT_EQ(link.OpenComPort(), 0);
    port->fail_read_settings = false;
    port->fail_apply_settings = true;
    EXPECT_EQ(link.OpenComPort(), 0);
    EXPECT_EQ(messages.texts, (std::vector<std::string>{"GetCommState is false!", "SetCommState is false!"}));
    port->fail_apply_settings = false;
    EXPECT_EQ(link.OpenComPort(), 1);
    EXPECT_EQ(port->open_calls, 1);
    EXPECT_EQ(port->read_settings_calls, 3);
    EXPECT_EQ(port->apply_timeouts_calls, 1);

    link.SetDebugMode(0);
    seam.State(link).link_port = 2;
    ports[2]->fail_apply_settings = true;
    EXPECT_EQ(link.OpenComPort(), 0);
    EXPECT_EQ(messages.texts.size(), 2u);
}

TEST_F(ChannelOpen, VanishedDeviceIsOpenedAgain) {
    ASSERT_EQ(link.OpenComPort(), 1);
    port->Vanish();
    ASSERT_EQ(link.OpenComPort(), 1);
    EXPECT_EQ(port->open_calls, 2);
    EXPECT_EQ(port->apply_settings_calls, 2);
    EXPECT_TRUE(port->IsUsable());
}

using ChannelRead = LinkTest;

TEST_F(ChannelRead, AckIsReadAndReported) {
    ASSERT_EQ(link.OpenComPort(), 1);
    port->Deliver(Bytes(kAckText), 30);
    const uint32_t t0 = clock.now;
    EXPECT_EQ(link.ReadComAck(), kResultOk);
    EXPECT_EQ(link.State().report_text, FirstByteLine(30, t0 + 30) + DataLine(kAckText, 11) + kOkLine);
    EXPECT_EQ(std::memcmp(link.ReplyBuffer(), kAckText.data(), 11), 0);
}

TEST_F(ChannelRead, NoAckModeReadsNothing) {
    ASSERT_EQ(link.OpenComPort(), 1);
    link.SetNoAckMode(1);
    seam.State(link).report_text = "before";
    port->Deliver(Bytes(kAckText));
    const uint32_t t0 = clock.now;
    EXPECT_EQ(link.ReadComAck(), kResultOk);
    EXPECT_EQ(link.State().report_text, "before");
    EXPECT_EQ(port->Queued(), 11u);
    EXPECT_EQ(clock.now, t0);
}

// The first byte may come up to 100 ms after the write; one more millisecond is a time-out
// and the byte is left for the next purge.
TEST_F(ChannelRead, FirstByteLimitIsOneHundredMilliseconds) {
    ASSERT_EQ(link.OpenComPort(), 1);
    port->Deliver(Bytes(kAckText), 100);
    EXPECT_EQ(link.ReadComAck(), kResultOk);

    port->Deliver(Bytes(kAckText), 101);
    seam.State(link).report_text.clear();
    const uint32_t t0 = clock.now;
    EXPECT_EQ(link.ReadComAck(), kResultTimeout);
    EXPECT_EQ(link.State().report_text, NoReplyLine(t0 + 101));
    EXPECT_EQ(port->Queued(), 11u);
}

TEST_F(ChannelRead, ReplyCutShortTimesOutOnTheNextRead) {
    ASSERT_EQ(link.OpenComPort(), 1);
    port->Deliver(Bytes("@00BO"));  // and then nothing
    const uint32_t t0 = clock.now;
    EXPECT_EQ(link.ReadComAck(), kResultTimeout);
    // The sixth single-byte read waits out the port's read time-out.
    EXPECT_EQ(link.State().report_text, FirstByteLine(0, t0) + IncompleteLine(t0 + ScriptedPort::kReadTimeoutMs));
}

TEST_F(ChannelRead, RestOfReplyLimitIsOneHundredMillisecondsFromTheFirstByte) {
    ASSERT_EQ(link.OpenComPort(), 1);
    const uint32_t t0 = clock.now;
    port->Deliver(Bytes("@00BO"));
    port->Deliver(Bytes("K.000\r"), 101);  // the sixth byte is not a CR and comes too late
    EXPECT_EQ(link.ReadComAck(), kResultTimeout);
    EXPECT_EQ(link.State().report_text, FirstByteLine(0, t0) + IncompleteLine(t0 + 101));

    // A closing CR ends the read whenever it comes within the read time-out.
    port->Purge();
    seam.State(link).report_text.clear();
    const uint32_t t1 = clock.now;
    port->Deliver(Bytes("@00BOK.000"));
    port->Deliver(Bytes("\r"), 250);
    EXPECT_EQ(link.ReadComAck(), kResultOk);
    EXPECT_EQ(link.State().report_text, FirstByteLine(0, t1) + DataLine(kAckText, 11) + kOkLine);
}

TEST_F(ChannelRead, ElevenBytesWithoutCarriageReturnAreClassified) {
    ASSERT_EQ(link.OpenComPort(), 1);
    port->Deliver(Bytes("@00BOK.0000XY"));
    const uint32_t t0 = clock.now;
    EXPECT_EQ(link.ReadComAck(), kResultUndefined);
    EXPECT_EQ(link.State().report_text, FirstByteLine(0, t0) + DataLine("@00BOK.0000", 11) +
                                    "\n\nUnknown status (not ACK/NAK) received! bug??");
    EXPECT_EQ(port->Queued(), 2u);  // the rest waits for the next purge

    port->Purge();
    Frame nak = Bytes("@00BNG");
    nak.push_back(0x02);
    for (char c : std::string("ABCDEF")) nak.push_back(static_cast<uint8_t>(c));
    port->Deliver(nak);
    EXPECT_EQ(link.ReadComAck(), kResultInvalidNow);
}

struct NakCase {
    std::vector<uint8_t> reply;
    int result;
    std::string data;   // the reply as the data line shows it
    int count;
    std::string line;   // the classification line
};

TEST_F(ChannelRead, NakStatusesAndTheirLines) {
    const std::vector<NakCase> cases = {
        {Nak(0).bytes, 1, "@00BNG", 11, "\n\nNAK received! status = 0 : unknown command"},
        {Nak(1).bytes, 2, "@00BNG\x01" "000\r", 11, "\n\nNAK received! status = 1 : parameter err"},
        {Nak(2).bytes, 3, "@00BNG\x02" "000\r", 11, "\n\nNAK received! status = 2 : invalid now"},
        {Bytes("@00BNG\x02\r"), 3, "@00BNG\x02\r", 8, "\n\nNAK received! status = 2 : invalid now"},
        {Bytes("@00BNG1000\r"), 4, "@00BNG1000\r", 11, "\n\nNAK received! status = 49 : bug??"},
        {Nak(0xFF).bytes, 4, "@00BNG\xFF" "000\r", 11, "\n\nNAK received! status = -1 : bug??"},
        {Nak(0x80).bytes, 4, "@00BNG\x80" "000\r", 11, "\n\nNAK received! status = -128 : bug??"},
        {Bytes("junk\r"), 4, "junk\r", 5, "\n\nUnknown status (not ACK/NAK) received! bug??"},
    };
    ASSERT_EQ(link.OpenComPort(), 1);
    for (const NakCase& c : cases) {
        port->Deliver(c.reply);
        seam.State(link).report_text.clear();
        const uint32_t t0 = clock.now;
        EXPECT_EQ(link.ReadComAck(), c.result) << Text(c.reply);
        EXPECT_EQ(link.State().report_text, FirstByteLine(0, t0) + DataLine(c.data, c.count) + c.line) << Text(c.reply);
    }
    EXPECT_TRUE(messages.texts.empty());  // reading never shows anything
}

// A clock that counts how often it is read, to show the waits sleep instead of polling.
class CountingClock final : public TickSource {
public:
    CountingClock() { seam_.Clock(this); }
    uint32_t Now() override {
        ++reads;
        return now;
    }
    void WaitSince(uint32_t since, uint32_t ms) override {
        if (now - since < ms) now = since + ms;
        ++waits;
    }
    uint32_t now = 5000;
    int reads = 0;
    int waits = 0;

private:
    TestSeam seam_;
};

TEST(ChannelWaits, ReplyWaitsSleepInsteadOfPolling) {
    MessageRecorder messages;
    CountingClock clock;
    RS232c_bios link;
    ScriptedPort* port = InstallScriptedPorts(link);
    ASSERT_EQ(link.OpenComPort(), 1);

    EXPECT_EQ(link.ReadComAck(), kResultTimeout);
    EXPECT_LE(clock.reads, 10);
    EXPECT_LE(clock.waits, 2);

    // A port whose state cannot be read still gives up on time without spinning.
    clock.reads = clock.waits = 0;
    port->fail_clear_error = true;
    EXPECT_EQ(link.ReadComAck(), kResultTimeout);
    EXPECT_LE(clock.reads, 10);

    clock.reads = clock.waits = 0;
    port->fail_clear_error = false;
    port->Deliver(Bytes(kAckText), 60);
    EXPECT_EQ(link.ReadComAck(), kResultOk);
    EXPECT_LE(clock.reads, 30);
}

TEST(TickTime, SplitsIntoDaysHoursMinutesSecondsMilliseconds) {
    int d, h, m, s, ms;
    RS232c_bios::SplitTickTime(86400000u + 3600000u + 60000u + 1000u + 1u, &d, &h, &m, &s, &ms);
    EXPECT_EQ((std::vector<int>{d, h, m, s, ms}), (std::vector<int>{1, 1, 1, 1, 1}));
    RS232c_bios::SplitTickTime(0, &d, &h, &m, &s, &ms);
    EXPECT_EQ((std::vector<int>{d, h, m, s, ms}), (std::vector<int>{0, 0, 0, 0, 0}));
    RS232c_bios::SplitTickTime(UINT32_MAX, &d, &h, &m, &s, &ms);  // 49 days 17:02:47.295
    EXPECT_EQ((std::vector<int>{d, h, m, s, ms}), (std::vector<int>{49, 17, 2, 47, 295}));
}

TEST(HexByte, TwoUpperCaseDigitsOfTheLowByte) {
    EXPECT_EQ(RS232c_bios::FormatHexByte(-1), "FF");
    EXPECT_EQ(RS232c_bios::FormatHexByte(13), "0D");
    EXPECT_EQ(RS232c_bios::FormatHexByte(-128), "??");
    for (int v = -300; v <= 300; ++v) {
        const std::string expected = v < -127 || v > 127 ? "??" : Printf("%02X", v & 0xFF);
        ASSERT_EQ(RS232c_bios::FormatHexByte(v), expected) << v;
    }
}

}  // namespace
}  // namespace dpx::test
