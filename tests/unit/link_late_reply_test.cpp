// Late replies: a reply is never taken for another command's, whatever the box's latency.
#include <algorithm>

#include "sim/BoxModel.h"
#include "tests/unit/link_fixture.h"

namespace dpx::test {
namespace {

// A box that answers every frame, or only the frames of the command before the refused one,
// `latency` ms late, and refuses one command as "unknown" (which draws the third write after
// a time-out). For every latency from 0 to 1000 ms: a command the link reports accepted was
// acknowledged by the box for that very command, so the refusal is never reported accepted;
// and with only one command late, the refusal is seen and the command after it goes through.
TEST(LateReplies, NoReplyIsTakenForAnotherCommands) {
    constexpr int kLate = kSCPOS, kRefused = kSCPFI;
    const std::vector<int> sequence = {kSCOPE, kLate, kRefused, kSCWFG, kSCVEG};
    for (const bool only_one_late : {false, true}) {
        for (uint32_t latency = 0; latency <= 1000; ++latency) {
            SCOPED_TRACE(testing::Message() << (only_one_late ? "one command" : "every frame") << " " << latency
                                            << " ms late");
            FakeClock clock;
            MessageRecorder messages;
            RS232c_bios link;
            ScriptedPort* port = InstallScriptedPorts(link);
            sim::BoxModel box({{{CommandTable[kRefused].word, 0}}});
            port->responder = [&box](const Frame& f) {
                const std::vector<sim::Exchange> took = box.Receive(f.data(), f.size());
                return took.empty() ? Frame{} : took.front().reply;
            };
            port->responder_byte_ms = 1;
            port->responder_latency = [&](const Frame& f) {
                return !only_one_late || std::equal(f.begin() + 3, f.begin() + 8, CommandTable[kLate].word) ? latency : 0;
            };
            link.SetDebugMode(0);
            // Whether the box acknowledged one of the frames it took since `from`.
            auto acked_since = [&box](size_t from) {
                for (size_t i = from; i < box.History().size(); ++i)
                    if (box.History()[i].reply == sim::AckReply()) return true;
                return false;
            };
            size_t from = box.History().size();
            const bool logged_in = link.ConnectLink(1) == 1;
            EXPECT_TRUE(!logged_in || acked_since(from)) << "login";
            for (int n : sequence) {
                from = box.History().size();
                const int r = link.SendCommand(n, IsSignedCommand(n) ? '+' : 0, 1);
                const bool sent = box.History().size() > from;
                EXPECT_TRUE(r != kResultOk || !sent || acked_since(from)) << CommandTable[n].word;
                EXPECT_TRUE(n != kRefused || r != kResultOk);
                if (!only_one_late) continue;
                EXPECT_EQ(r, n == kRefused ? kResultUnknownCommand : n > kRefused ? kResultOk : r) << CommandTable[n].word;
            }
            if (HasFailure()) return;
        }
    }
}

// After a time-out the next command goes out as soon as the owed late replies have been read
// (each as it comes), or once the line has been silent for the limit after the last write;
// bytes that cannot start a reply do not hold it back. Commands after it do not wait.
TEST_F(LinkTest, LateRepliesAreReadAsTheyComeOrGivenUpAtTheLimit) {
    Connect();
    link.SetDebugMode(0);
    seam.State(link).link_category = kCategoryScope;
    port->replies = {Ack(105), Ack(105), Nak(2, 105), Nak(2, 105), NoReply(), NoReply(), Ack(), Ack()};
    EXPECT_EQ(link.SendCommand(kSCPOS, 0, 1), kResultOk);  // the resend reads the first try's ACK
    EXPECT_EQ(link.SendCommand(kSCPFI, 0, 1), kResultInvalidNow);
    ASSERT_EQ(port->write_ticks.size(), 4u);
    EXPECT_EQ(port->write_ticks[2], port->write_ticks[1] + 105);  // when the resend's reply came
    EXPECT_EQ(Count(link.Trace().Text(), "dropped (the reply to an earlier frame)"), 1);

    EXPECT_EQ(link.SendCommand(kSCWFG, '+', 1), kResultTimeout);  // owes the SCPFI resend's NAK, then its own two
    const uint32_t last_write = port->write_ticks.back();
    for (uint32_t at = 0; at + 200 < RS232c_bios::kLateReplyLimitMs; at += 50) port->Deliver(Bytes("x\r"), at);
    EXPECT_EQ(link.SendCommand(kSCVEG, '+', 1), kResultOk);
    EXPECT_EQ(port->write_ticks[6], last_write + RS232c_bios::kLateReplyLimitMs);
    EXPECT_NE(link.Trace().Text().find("2 late replies did not come"), std::string::npos);

    EXPECT_EQ(link.SendCommand(kSCVEG, '+', 2), kResultOk);
    EXPECT_EQ(port->write_ticks[7], clock.now);
}

}  // namespace
}  // namespace dpx::test
