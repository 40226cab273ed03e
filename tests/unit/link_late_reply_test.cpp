// Late replies: a reply is never taken for another command's, whatever the box's latency.
#include <algorithm>
#include <cstdio>

#include "sim/BoxModel.h"
#include "tests/unit/link_fixture.h"

namespace dpx::test {
namespace {

// A box that answers every frame, or only the frames of the command before the refused one,
// `latency` ms late, in order (a reply never overtakes an earlier one), and refuses one
// command as "unknown" (which draws the third write after a time-out). The late command is
// tried twice, as the synchronisation tries a failed step. For every latency from 0 to
// 5000 ms, also beyond the late-reply limit (replies given up that come later still): a
// command the link reports accepted was acknowledged by the box for that command, so the
// refusal is never reported accepted; and with only one command late, while the late replies
// come within the limit, the refusal is seen as such and the commands after it go through.
TEST(LateReplies, NoReplyIsTakenForAnotherCommands) {
    constexpr uint32_t kSweepMs = 5000;
    constexpr int kLate = kSCPOS, kRefused = kSCPFI;
    const std::vector<int> sequence = {kSCOPE, kLate, kLate, kRefused, kSCWFG, kSCVEG};
    int runs = 0, refusals_accepted = 0, out_of_step = 0;
    for (const bool only_one_late : {false, true}) {
        for (uint32_t latency = 0; latency <= kSweepMs; ++latency) {
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
            uint32_t box_free = clock.now;  // when the box has sent its last reply
            port->responder_latency = [&](const Frame& f) {
                const bool late = !only_one_late || std::equal(f.begin() + 3, f.begin() + 8, CommandTable[kLate].word);
                const uint32_t busy = static_cast<int32_t>(box_free - clock.now) > 0 ? box_free - clock.now : 0;
                const uint32_t delay = std::max(late ? latency : 0, busy);
                box_free = clock.now + delay + static_cast<uint32_t>(kFrameSize) * port->responder_byte_ms;
                return delay;
            };
            link.SetDebugMode(0);
            // Whether the box acknowledged one of the frames it took since `from`.
            auto acked_since = [&box](size_t from) {
                for (size_t i = from; i < box.History().size(); ++i)
                    if (box.History()[i].reply == sim::AckReply()) return true;
                return false;
            };
            ++runs;
            size_t from = box.History().size();
            const bool logged_in = link.ConnectLink(1) == 1;
            EXPECT_TRUE(!logged_in || acked_since(from)) << "login";
            for (int n : sequence) {
                from = box.History().size();
                const int r = link.SendCommand(n, IsSignedCommand(n) ? '+' : 0, 1);
                const bool sent = box.History().size() > from;
                EXPECT_TRUE(r != kResultOk || !sent || acked_since(from)) << CommandTable[n].word;
                refusals_accepted += n == kRefused && r == kResultOk;
                out_of_step += r == kResultOutOfStep;
                if (only_one_late && latency < RS232c_bios::kLateReplyLimitMs && n >= kRefused) {
                    EXPECT_EQ(r, n == kRefused ? kResultUnknownCommand : kResultOk) << CommandTable[n].word;
                }
            }
            if (HasFailure()) return;
        }
    }
    EXPECT_EQ(refusals_accepted, 0);
    std::printf("late-reply sweep: 0 to %u ms in 1 ms steps, %d runs, %d refusals reported accepted, "
                "%d transactions failed out of step\n",
                kSweepMs, runs, refusals_accepted, out_of_step);
}

// After a time-out the next command goes out as soon as the owed late replies have been read
// (each as it comes), or once the line has been silent for the limit after the last write;
// bytes that cannot start a reply do not hold it back. While replies given up may still come,
// a command that read a reply watches the line until it has been quiet for the limit; the
// next command goes out at once.
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

    EXPECT_EQ(clock.now, port->write_ticks[6] + RS232c_bios::kLateReplyLimitMs);

    const uint32_t next = clock.now;
    EXPECT_EQ(link.SendCommand(kSCVEG, '+', 2), kResultOk);
    EXPECT_EQ(port->write_ticks[7], next);
}

// A reply that comes while none is owed shows that replies and frames are out of step: the
// transaction that finds it fails unsent and says why, the category is asked again, and the
// next frame goes out once the line has been quiet for the limit.
TEST_F(LinkTest, AReplyNoFrameWasOwedFailsTheTransactionAndTheLinkWaitsForQuiet) {
    Connect();
    link.SetDebugMode(0);
    seam.State(link).link_category = kCategoryScope;
    port->replies = {Ack(), Ack()};
    EXPECT_EQ(link.SendCommand(kSCPOS, 0, 1), kResultOk);
    constexpr uint32_t kLastStrayMs = 300;
    port->Deliver(Bytes(kAckFrame));                // a reply no frame was owed
    port->Deliver(Bytes(kAckFrame), kLastStrayMs);  // and another while the link waits
    const size_t writes = port->frames.size();
    const uint32_t start = clock.now;
    EXPECT_EQ(link.SendCommand(kSCPFI, 0, 1), kResultOutOfStep);
    EXPECT_EQ(port->frames.size(), writes);
    EXPECT_EQ(clock.now, start + kLastStrayMs + RS232c_bios::kLateReplyLimitMs);
    EXPECT_EQ(link.State().link_failure, std::string("COM1: ") + LinkResultMeaning(kResultOutOfStep));
    EXPECT_EQ(link.State().link_category, kCategoryUnknown);
    EXPECT_NE(link.Trace().Text().find(LinkResultMeaning(kResultOutOfStep)), std::string::npos);

    const uint32_t quiet = clock.now;
    EXPECT_EQ(link.SendCommand(kSCPFI, 0, 1), kResultOk);
    EXPECT_EQ(port->write_ticks.back(), quiet);
}

}  // namespace
}  // namespace dpx::test
