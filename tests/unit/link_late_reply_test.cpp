// Late replies: a reply is never taken for another command's, whatever the box's latency: in
// one session, across the sessions of two programs on one line, and in a synchronisation.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "session/Change.h"
#include "sim/BoxModel.h"
#include "sync/Synchronise.h"
#include "tests/unit/link_fixture.h"

namespace dpx::test {
namespace {

// The latencies swept: every millisecond up to and around the link's own limits (the wait for
// late replies, the old 5 s limit, the end of the look-out for replies given up), every 10 ms
// elsewhere, up to 10 s.
std::vector<uint32_t> Latencies(uint32_t coarse_ms = 10) {
    std::vector<uint32_t> out;
    for (uint32_t ms = 0; ms <= 10000;) {
        out.push_back(ms);
        const bool fine = ms < 1200 || (ms >= 4900 && ms < 5100) || ms >= 9900;
        ms += fine ? 1 : coarse_ms;
    }
    return out;
}

// The box of the sweeps: a BoxModel behind the scripted line. The first `late_frames` frames
// of `late_word` (every frame when it is empty) are answered `latency` ms late. In order, a
// reply waits for the one before it; overtaken, the replies after a late one come on time and
// the late one comes after them when it is due.
struct LateBox {
    LateBox(ScriptedPort& port, FakeClock& clock, const std::string& refused) : model({{{refused, 0}}}) {
        port.responder = [this](const Frame& f) {
            const std::vector<sim::Exchange> took = model.Receive(f.data(), f.size());
            return took.empty() ? Frame{} : took.front().reply;
        };
        port.responder_latency = [this, &port, &clock](const Frame& f) {
            const bool word = late_word.empty() || std::equal(f.begin() + 3, f.begin() + 8, late_word.begin());
            const bool late = word && late_frames != 0;
            if (late && late_frames > 0) --late_frames;
            const uint32_t on_time =
                !slow_word.empty() && std::equal(f.begin() + 3, f.begin() + 8, slow_word.begin()) ? slow_ms : 0;
            if (overtaken) {
                port.responder_byte_ms = 0;  // whole replies: one never lands inside another
                return late ? latency : on_time;
            }
            port.responder_byte_ms = 1;
            const uint32_t busy = static_cast<int32_t>(line_free - clock.now) > 0 ? line_free - clock.now : 0;
            const uint32_t delay = std::max(late ? latency : on_time, busy);
            line_free = clock.now + delay + static_cast<uint32_t>(kFrameSize);
            return delay;
        };
    }
    // Whether the box acknowledged one of the frames it took since `from`.
    bool AckedSince(size_t from) const {
        for (size_t i = from; i < model.History().size(); ++i)
            if (model.History()[i].reply == sim::AckReply()) return true;
        return false;
    }

    sim::BoxModel model;
    std::string late_word;
    int late_frames = -1;  // -1: all of them
    uint32_t latency = 0;
    bool overtaken = false;
    std::string slow_word;  // every frame of it answered slow_ms late (not counted in late_frames)
    uint32_t slow_ms = 0;
    uint32_t line_free = 0;
};

// The box refuses INPSE (NAK parameter error), answers it after `inpse_ms`, and answers the
// first INPUT category select `latency` ms late.
void RefuseInputLate(LateBox& box, uint32_t latency, bool overtaken, uint32_t inpse_ms) {
    box.model.Options().forced_nak = {{CommandTable[kINPSE].word, 1}};
    box.late_word = CommandTable[kINPUT].word;
    box.late_frames = 1;
    box.latency = latency;
    box.overtaken = overtaken;
    box.slow_word = CommandTable[kINPSE].word;
    box.slow_ms = inpse_ms;
}

// What one command of a run got, and whether the box said so.
struct Sent {
    int command;
    int result;
    uint64_t first, last;  // the link's transactions
    bool reached;          // the box took a frame of it
    bool acked;            // and acknowledged one
};

// Sends `command` and notes what happened.
Sent Send(RS232c_bios& link, LateBox& box, int command) {
    const size_t from = box.model.History().size();
    const uint64_t first = link.Transactions() + 1;
    const int r = command == kBCN_Login ? (link.ConnectLink(1) == 1 ? kResultOk : link.State().link_result)
                                        : link.SendCommand(command, IsSignedCommand(command) ? '+' : 0, 1);
    return {command, r, first, link.Transactions(), box.model.History().size() > from, box.AckedSince(from)};
}

// The run's outcome once its replies are settled: every command reported accepted was
// acknowledged by the box, or the link doubts it. Returns how many refusals of `refused` the
// link reported accepted without doubt.
int Misreads(RS232c_bios& link, const std::vector<Sent>& sent, int refused) {
    link.SettleReplies();
    int misread = 0;
    for (const Sent& s : sent) {
        const bool believed = s.result == kResultOk && s.reached && !link.RepliesDoubted(s.first, s.last);
        EXPECT_TRUE(!believed || s.acked) << CommandTable[s.command].word;
        misread += s.command == refused && believed;
    }
    return misread;
}

// One session: a box that answers one command, or every frame, late, in order or overtaken, and
// refuses another as "unknown" (which draws the third write after a time-out). The late
// command is tried twice, as a synchronisation tries a failed step. No refusal is ever believed
// accepted; with only one command late while its replies come within the wait for late replies,
// the refusal is seen as such and the commands after it go through.
TEST(LateReplies, NoReplyIsTakenForAnotherCommandsInOneSession) {
    constexpr int kLate = kSCPOS, kRefused = kSCPFI;
    const std::vector<int> sequence = {kBCN_Login, kSCOPE, kLate, kLate, kRefused, kSCWFG, kSCVEG};
    int runs = 0, misreads = 0, doubted = 0;
    for (const bool overtaken : {false, true}) {
        for (const bool only_one_late : {false, true}) {
            for (const uint32_t latency : Latencies()) {
                SCOPED_TRACE(testing::Message() << (only_one_late ? "one command " : "every frame ") << latency
                                                << " ms late, " << (overtaken ? "overtaken" : "in order"));
                FakeClock clock;
                MessageRecorder messages;
                RS232c_bios link;
                ScriptedPort* port = InstallScriptedPorts(link);
                LateBox box(*port, clock, CommandTable[kRefused].word);
                box.late_word = only_one_late ? CommandTable[kLate].word : "";
                box.latency = latency;
                box.overtaken = overtaken;
                link.SetDebugMode(0);
                ++runs;
                std::vector<Sent> sent;
                for (int n : sequence) sent.push_back(Send(link, box, n));
                if (only_one_late && latency < RS232c_bios::kLateReplyLimitMs && !overtaken) {
                    for (const Sent& s : sent) {
                        if (s.command == kRefused || s.command == kSCWFG || s.command == kSCVEG) {
                            EXPECT_EQ(s.result, s.command == kRefused ? kResultUnknownCommand : kResultOk)
                                << CommandTable[s.command].word;
                        }
                    }
                }
                misreads += Misreads(link, sent, kRefused);
                doubted += link.RepliesDoubted(1, link.Transactions());
                if (testing::Test::HasFailure()) return;
            }
        }
    }
    EXPECT_EQ(misreads, 0);
    std::printf("one session, 0 to 10000 ms late, in order and overtaken: %d runs, %d refusals believed accepted, "
                "%d runs with transactions doubted\n",
                runs, misreads, doubted);
}

// One end of a serial line that outlives the program holding it: a program's port over the
// test's scripted line. Opening it drops what arrived while it was closed; what is on its way
// still comes.
class LinePort final : public SerialPort {
public:
    explicit LinePort(ScriptedPort& line) : line_(line) {}
    bool Open() override {
        open_ = true;
        return line_.Purge();
    }
    bool ApplyLineSettings() override { return open_; }
    bool IsUsable() const override { return open_; }
    bool Purge() override { return line_.Purge(); }
    bool ClearError(uint32_t* errors, uint32_t* queued, uint32_t wait_ms) override {
        return line_.ClearError(errors, queued, wait_ms);
    }
    uint32_t Write(const uint8_t* data, uint32_t n) override { return line_.Write(data, n); }
    uint32_t ReadByte(uint8_t* byte) override { return line_.ReadByte(byte); }
    std::string DeviceName() const override { return line_.DeviceName(); }
    std::string ErrorText() const override { return {}; }
    void Close() override { open_ = false; }

private:
    ScriptedPort& line_;
    bool open_ = false;
};

// A folder of its own for the records of one test, removed after it.
struct RecordFolder {
    RecordFolder()
        : path(std::filesystem::temp_directory_path() / ("dpx20-astray-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path);
    }
    ~RecordFolder() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
};

// A program's link on the shared line, with the records of the folder.
void Attach(RS232c_bios& link, ScriptedPort& line, const std::filesystem::path& records) {
    link.SetAstrayRecords(std::make_shared<AstrayRecords>(records));
    link.SetPortFactory([&line](int) { return std::make_unique<LinePort>(line); });
    link.SetDebugMode(0);
}

// Two programs in quick succession on one line: the first gives up on a reply the box sends
// late (and logs off, or stays logged in), the second logs in and sends a command the box
// refuses. The second never takes a reply owed to the first: it waits for it before its login
// instead, so its refusal is never believed accepted; and a start after a clean run waits for
// nothing.
TEST(LateReplies, ANewProgramTakesNoReplyOwedToTheLastOne) {
#ifdef _WIN32
    // Under Wine a run of this sweep takes about a second, far past the Windows suite's time
    // limit: skipped there until that is understood.
    GTEST_SKIP() << "the two-program sweep takes minutes under Wine";
#endif
    RecordFolder folder;
    constexpr int kLate = kSCPOS, kRefused = kSCPFI;
    int runs = 0, misreads = 0;
    uint32_t longest_start = 0;
    for (const bool overtaken : {false, true}) {
        for (const bool log_off : {false, true}) {
            for (const uint32_t latency : Latencies(25)) {
                SCOPED_TRACE(testing::Message() << latency << " ms late, " << (overtaken ? "overtaken" : "in order")
                                                << (log_off ? ", logged off" : ", stayed logged in"));
                FakeClock clock;
                MessageRecorder messages;
                ScriptedPort line(1);
                line.Open();
                LateBox box(line, clock, CommandTable[kRefused].word);
                box.late_word = CommandTable[kLate].word;
                box.late_frames = 1;
                box.latency = latency;
                box.overtaken = overtaken;
                {
                    RS232c_bios first;
                    Attach(first, line, folder.path);
                    ASSERT_EQ(first.ConnectLink(1), 1);
                    first.SendCommand(kSCOPE, 0, 0);
                    first.SendCommand(kLate, 0, 1);
                    if (log_off) first.ConnectLink(0);
                }
                clock.Advance(30);  // the next program starts
                ++runs;
                RS232c_bios second;
                Attach(second, line, folder.path);
                const uint32_t start = clock.now;
                std::vector<Sent> sent = {Send(second, box, kBCN_Login)};
                longest_start = std::max(longest_start, clock.now - start);
                for (int n : std::initializer_list<int>{kSCOPE, kRefused, kSCWFG}) sent.push_back(Send(second, box, n));
                misreads += Misreads(second, sent, kRefused);
                EXPECT_EQ(sent[2].result, kResultUnknownCommand);
                if (testing::Test::HasFailure()) return;
            }
        }
    }
    EXPECT_EQ(misreads, 0);
    EXPECT_LE(longest_start, RS232c_bios::kAstrayLimitMs + 400);

    // After a clean run there is no record, and the next login goes out after the usual pacing.
    FakeClock clock;
    MessageRecorder messages;
    ScriptedPort line(1);
    line.Open();
    LateBox box(line, clock, "");
    for (int program = 0; program < 2; ++program) {
        RS232c_bios link;
        Attach(link, line, folder.path);
        const size_t writes = line.write_ticks.size();
        const uint32_t start = clock.now;
        ASSERT_EQ(link.ConnectLink(1), 1);
        EXPECT_EQ(line.write_ticks[writes] - start, 300u);
        EXPECT_EQ(link.SendCommand(kSCOPE, 0, 0), kResultOk);
        EXPECT_EQ(link.ConnectLink(0), 1);
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder.path) || !std::filesystem::exists(folder.path));
    std::printf("two programs, 0 to 10000 ms late: %d runs, %d refusals believed accepted, longest login %u ms\n", runs,
                misreads, longest_start);
}

// A synchronisation against a box that refuses INPSE and answers the first frame of its
// category select late, and INPSE itself on time or 300 ms late (so that its own refusal comes
// after the link's look-out of a transaction, and the misread is found by a later step):
// whatever the latency, every pass that ran to its end counts INPSE failed (never taken as
// done on another frame's reply), and the synchronisation never reports success.
TEST(LateReplies, ASynchronisationNeverCountsARefusedStepDone) {
    struct Box {
        bool overtaken;
        uint32_t inpse_ms;
    };
    int runs = 0, passes_without_inpse = 0;
    for (const Box kind : {Box{false, 0}, Box{false, 300}, Box{true, 0}, Box{true, 300}}) {
        for (uint32_t latency = 0; latency <= 10000; latency += latency < 1400 ? 3 : 97) {
            SCOPED_TRACE(testing::Message() << latency << " ms late, " << (kind.overtaken ? "overtaken" : "in order")
                                            << ", INPSE answered after " << kind.inpse_ms << " ms");
            FakeClock clock;
            MessageRecorder messages;
            RS232c_bios link;
            ScriptedPort* port = InstallScriptedPorts(link);
            LateBox box(*port, clock, CommandTable[kINPSE].word);
            RefuseInputLate(box, latency, kind.overtaken, kind.inpse_ms);
            link.SetDebugMode(0);
            ASSERT_EQ(link.ConnectLink(1), 1);
            ++runs;
            SettingsRecord settings;
            settings.debug_mode = 0;
            SyncFigures figures;
            EXPECT_EQ(SynchroniseAll(link, settings, {}, &figures), 0);
            // Passes that ran to their end (a box holding every reply behind a late one falls
            // silent, which ends the pass in progress).
            const int passes = Count(messages.texts.back(), " try : ") - (figures.silent ? 1 : 0);
            for (int pass = 1; pass <= passes; ++pass) {
                const bool counted = std::any_of(figures.failures.begin(), figures.failures.end(), [&](const SyncFailure& f) {
                    return f.pass == pass && f.setting->command == kINPSE;
                });
                passes_without_inpse += !counted;
                EXPECT_TRUE(counted) << "pass " << pass;
            }
            if (testing::Test::HasFailure()) return;
        }
    }
    std::printf("synchronisation, INPUT 0 to 10000 ms late: %d runs, %d passes that took INPSE as done\n", runs,
                passes_without_inpse);
}

// A change of settings, as every front door makes it: the category select before a refused
// command answered late, in order or overtaken; the refused command is never taken as accepted,
// and the record keeps what it had.
TEST(LateReplies, AChangeOfSettingsNeverCountsARefusalTaken) {
    int runs = 0, taken = 0;
    for (const bool overtaken : {false, true}) {
        for (const uint32_t inpse_ms : {0u, 300u}) {
            for (uint32_t latency = 0; latency <= 10000; latency += latency < 1400 ? 7 : 197) {
                SCOPED_TRACE(testing::Message() << latency << " ms late, " << (overtaken ? "overtaken" : "in order")
                                                << ", INPSE answered after " << inpse_ms << " ms");
                FakeClock clock;
                MessageRecorder messages;
                RS232c_bios link;
                ScriptedPort* port = InstallScriptedPorts(link);
                LateBox box(*port, clock, CommandTable[kINPSE].word);
                RefuseInputLate(box, latency, overtaken, inpse_ms);
                link.SetDebugMode(0);
                ASSERT_EQ(link.ConnectLink(1), 1);
                SettingsRecord record;
                const ChangeResult change =
                    ApplyChange(link, record, {{&SettingOf(&SettingsRecord::sys_input_select), 1}});
                ++runs;
                taken += change.ok;
                EXPECT_FALSE(change.ok);
                EXPECT_EQ(record.sys_input_select, SettingsRecord{}.sys_input_select);
                if (testing::Test::HasFailure()) return;
            }
        }
    }
    std::printf("a change of input, its select 0 to 10000 ms late: %d runs, %d refusals taken\n", runs, taken);
}

// After a time-out the next command goes out as soon as the owed late replies have been read
// (each as it comes), or once the line has been silent for the limit after the last write;
// bytes that cannot start a reply do not hold it back. While replies given up may still come,
// a command that read a reply watches the line only for as long as a box that answers on time
// takes; the next command goes out at once.
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

    EXPECT_EQ(clock.now, port->write_ticks[6] + RS232c_bios::kOnTimeReplyMs);

    const uint32_t next = clock.now;
    EXPECT_EQ(link.SendCommand(kSCVEG, '+', 2), kResultOk);
    EXPECT_EQ(port->write_ticks[7], next);
}

// A reply that comes while none is owed shows that replies and frames are out of step: the
// transaction that finds it fails unsent and says why, the category is asked again, the
// transactions since the link last knew its replies in step are doubted (not only the one
// that found it), and the next frame goes out once the line has been quiet for the limit.
TEST_F(LinkTest, AReplyNoFrameWasOwedFailsTheTransactionAndTheLinkWaitsForQuiet) {
    Connect();
    link.SetDebugMode(0);
    seam.State(link).link_category = kCategoryScope;
    port->replies = {NoReply(), NoReply(), Ack(), Ack(), Ack()};
    EXPECT_EQ(link.SendCommand(kSCPOS, 0, 1), kResultTimeout);
    const uint64_t in_step = link.Transactions();  // it read nothing of another frame's
    EXPECT_EQ(link.SendCommand(kSCPOS, 0, 1), kResultOk);  // its replies given up on the way
    EXPECT_EQ(link.SendCommand(kSCPFI, 0, 1), kResultOk);
    EXPECT_FALSE(link.RepliesDoubted(1, link.Transactions()));
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
    EXPECT_FALSE(link.RepliesDoubted(1, in_step));
    for (uint64_t n = in_step + 1; n <= link.Transactions(); ++n) EXPECT_TRUE(link.RepliesDoubted(n, n)) << n;

    const uint32_t quiet = clock.now;
    EXPECT_EQ(link.SendCommand(kSCPFI, 0, 1), kResultOk);
    EXPECT_EQ(port->write_ticks.back(), quiet);
    EXPECT_FALSE(link.RepliesDoubted(link.Transactions(), link.Transactions()));
}

}  // namespace
}  // namespace dpx::test
