// The command transaction: the one way a frame reaches the box, with the category rule,
// the resend rule, the link modes and the diagnostic report.
#include <cstring>
#include <string>

#include "common/MessageSink.h"
#include "common/TickSource.h"
#include "link/LinkImpl.h"

namespace dpx {
namespace {

constexpr uint32_t kNoAckSpacingMs = 70;
// The longest wait for a quiet line once replies are out of step: a line that never stops
// talking must not hold the caller for ever.
constexpr uint32_t kQuietLimitMs = 5000;
// The runs of doubted transactions kept: a caller asks about the transactions of its latest
// operation, never about old ones.
constexpr std::size_t kDoubtedKept = 64;

// Resend rule: a time-out is written once more; if the box then says "unknown command" (the
// first frame may have reached it garbled), a third time.
struct Resend {
    int after;           // the result of the previous write that calls for this one
    const char* report;  // its line in the diagnostic report
    const char* trace;   // and in the frame trace
};
constexpr Resend kResends[] = {
    {kResultTimeout, "\n\n-----<try again>--------------------------------------------\n\n", "resend (try again)"},
    {kResultUnknownCommand, "\n\n-----<try one more>-----------------------------------------\n\n",
     "resend (try one more)"},
};

// Keeps link_busy at 1 while a transaction runs and puts back what it was on every return,
// so a transaction started from inside a debug message box does not clear the flag of the
// one still in progress.
class BusyScope {
public:
    explicit BusyScope(int32_t& busy) : busy_(busy), previous_(busy) { busy_ = 1; }
    ~BusyScope() { busy_ = previous_; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    int32_t& busy_;
    int32_t previous_;
};

}  // namespace

// When a transaction that used the port ends: the replies known in step are noted and recorded
// for the next program (RecordAstray), and a device reported gone (a USB adapter pulled out)
// ends the session, as a failed port open does, so the next connect opens it again and logs in.
class RS232c_bios::TransactionEnd {
public:
    explicit TransactionEnd(RS232c_bios& link) : link_(link) {}
    ~TransactionEnd() { link_.EndTransaction(); }
    TransactionEnd(const TransactionEnd&) = delete;
    TransactionEnd& operator=(const TransactionEnd&) = delete;

private:
    RS232c_bios& link_;
};

void RS232c_bios::EndTransaction() {
    // Replies given up that have not come by their limit are lost: nothing of them can come.
    if (impl_->replies_astray > 0 && static_cast<int32_t>(Ticks().Now() - impl_->astray_until) >= 0)
        impl_->replies_astray = 0;
    // In step: nothing is awaited any more; or nothing of an earlier frame was awaited while
    // this transaction read, so what it read was its own frame's, and what it still owes is
    // its own frame's too (a resend's earlier write).
    if (impl_->replies_astray == 0 &&
        (impl_->replies_owed == 0 || impl_->in_step_through + 1 == impl_->transactions))
        MarkInStep();
    RecordAstray();
    EndSessionIfGone();
}

void RS232c_bios::MarkInStep() { impl_->in_step_through = impl_->transactions; }

void RS232c_bios::RecordAstray() {
    if (!impl_->records || state_.link_no_ack) return;
    // A box that never answered since the port was opened, or stopped answering, is not
    // expected to send the replies it never sent.
    AstrayNote note;
    if (impl_->heard && !BoxSilent()) {
        note.replies = impl_->replies_owed + impl_->replies_astray;
        note.until = impl_->astray_until;
        const uint32_t owed_until = impl_->activity_tick + kAstrayLimitMs;
        if (impl_->replies_owed > 0 && (impl_->replies_astray == 0 || static_cast<int32_t>(owed_until - note.until) > 0))
            note.until = owed_until;
    }
    AstrayNote& recorded = impl_->recorded;
    if (note.replies == recorded.replies && (note.replies == 0 || note.until == recorded.until)) return;
    impl_->records->Write(TraceDevice(), note);
    recorded = note;
}

uint64_t RS232c_bios::Transactions() const { return impl_->transactions; }

bool RS232c_bios::RepliesDoubted(uint64_t first, uint64_t last) const {
    for (const auto& [from, to] : impl_->doubted)
        if (from <= last && first <= to) return true;
    return false;
}

int RS232c_bios::SendCommand(int n, char p1, int8_t p2) {
    if (Away()) return Elsewhere([&] { return SendCommand(n, p1, p2); });
    state_.link_result = Transact(n, p1, p2);
    return state_.link_result;
}

// A reply that comes after its time-out would be taken for the next frame's: replies come in
// order and name no command. So before the first write of a transaction the replies still
// owed for earlier frames are read and dropped, each as it comes, waiting for them until
// kLateReplyLimitMs after the last write or the last reply byte, whichever is later (the
// pacing waits the link has already made count towards it); those that have not come by then
// are given up (GiveUpOwedReplies). Bytes before a reply's first byte (the rest of a reply
// cut short by a time-out, noise) are dropped uncounted and do not hold the wait. Only a
// transaction after a time-out pays.
//
// A reply given up may still come, later than the limit, and would then be taken for a later
// frame's. The link notices when it is out of step: every reply it reads is one owed, so a
// reply that begins while none is owed (more replies than frames since a give-up) means that
// an earlier reply was taken for the wrong frame. That is looked for before every write (what
// came in between transactions), and, while replies given up are astray, after the reply of
// each transaction, on a line watched until it has been quiet for the limit.
bool RS232c_bios::ReadOwedReplies(uint32_t quiet_ms, bool until_paid) {
    SerialPort* port = Port(state_.link_port);
    TickSource& ticks = Ticks();
    std::string late;  // the late reply being read
    while (port && !(until_paid && impl_->replies_owed == 0)) {
        const uint32_t waited = TicksBetween(impl_->activity_tick, ticks.Now());
        const uint32_t wait = waited < quiet_ms ? quiet_ms - waited : 0;
        uint32_t errors = 0;
        uint32_t queued = 0;
        if (!port->ClearError(&errors, &queued, wait)) break;
        impl_->line_errors |= errors;
        if (queued == 0 && wait == 0) break;
        for (; queued > 0; --queued) {
            uint8_t byte = 0;
            if (port->ReadByte(&byte) != 1) break;
            if (late.empty() && byte != kReplyStart) continue;
            if (late.empty() && impl_->replies_owed == 0) return false;
            impl_->activity_tick = ticks.Now();
            state_.link_silent = 0;  // the box is there, only late
            impl_->heard = true;
            late.push_back(static_cast<char>(byte));
            if (byte != '\r' && late.size() < kFrameSize) continue;
            impl_->trace.Late(impl_->activity_tick, TraceDevice(), late);
            late.clear();
            --impl_->replies_owed;
            if (until_paid && impl_->replies_owed == 0) break;
        }
    }
    return true;
}

void RS232c_bios::GiveUpOwedReplies() {
    const uint32_t owed = impl_->replies_owed;
    if (owed == 0) return;
    impl_->trace.Event(Ticks().Now(), TraceDevice(),
                       Format("%u late repl%s not come within %u ms: given up", owed,
                              owed == 1 ? "y did" : "ies did", kLateReplyLimitMs));
    impl_->replies_astray += owed;
    impl_->replies_owed = 0;
    impl_->astray_until = impl_->activity_tick + kAstrayLimitMs;
}

// Whatever reply the transaction read may have been another frame's, and what the box took
// is unknown: the transaction fails, the category is asked again by the next operation, and
// the next frame goes out on a quiet line. How many replies are still on their way is unknown
// too: none is owed any more, and the replies of the frames written so far count as astray
// until kAstrayLimitMs after the last of them.
int RS232c_bios::OutOfStep() {
    const char* cause = LinkResultMeaning(kResultOutOfStep);
    TickSource& ticks = Ticks();
    const uint32_t last_write = impl_->activity_tick;
    impl_->trace.Event(ticks.Now(), TraceDevice(), std::string(cause) + "; waiting for a quiet line");
    state_.report_text += std::string("\n\n") + cause;
    state_.link_failure = TraceDevice() + ": " + cause;
    state_.link_category = kCategoryUnknown;
    state_.link_silent = 0;  // the box is there
    if (SerialPort* port = Port(state_.link_port); port && port->Purge()) {
        // Quiet: nothing for kLateReplyLimitMs, waited for kQuietLimitMs at most.
        const uint32_t start = ticks.Now();
        uint32_t last = start;
        for (;;) {
            const uint32_t now = ticks.Now();
            const uint32_t quiet = TicksBetween(last, now);
            if (quiet >= kLateReplyLimitMs || TicksBetween(start, now) >= kQuietLimitMs) break;
            uint32_t errors = 0;
            uint32_t queued = 0;
            if (!port->ClearError(&errors, &queued, kLateReplyLimitMs - quiet)) break;
            uint8_t byte = 0;
            for (; queued > 0 && port->ReadByte(&byte) == 1; --queued) last = ticks.Now();
        }
    }
    // Every reply taken since the link last knew its replies in step may have been another
    // frame's: those transactions are doubted, not only the one that found it.
    if (impl_->in_step_through < impl_->transactions) {
        impl_->doubted.emplace_back(impl_->in_step_through + 1, impl_->transactions);
        if (impl_->doubted.size() > kDoubtedKept) impl_->doubted.erase(impl_->doubted.begin());
        impl_->in_step_through = impl_->transactions;
    }
    impl_->replies_owed = 0;
    impl_->replies_astray = 1;
    impl_->astray_until = last_write + kAstrayLimitMs;
    state_.link_last_tick = ticks.Now();
    if (state_.link_debug) ShowMessage(state_.report_text);
    return kResultOutOfStep;
}

int RS232c_bios::Transact(int n, char p1, int8_t p2) {
    if (state_.link_virtual) return kResultOk;
    BusyScope busy(state_.link_busy);

    if (state_.link_connected != 1 && n != kBCN_Login) {
        // The trace keeps what an operation wanted to send while the link was down, and why.
        uint8_t frame[kFrameBufferSize] = {};
        if (BuildFrame(n, p1, static_cast<uint8_t>(p2), frame) != kResultUnknownCommand) {
            const std::string& why = state_.link_failure;
            impl_->trace.NotSent(Ticks().Now(), TraceDevice(), frame, kFrameSize,
                                 why.empty() ? "not logged in" : "not logged in; last failure: " + why);
        }
        return kResultNotSent;
    }
    if (n < 0 || n >= kSendableCommands) {
        if (state_.link_debug) ShowMessage("Unknown Command!");
        return kResultUnknownCommand;
    }
    const CommandRow& row = CommandTable[n];
    if (row.kind == kKindCategorySelect && state_.link_category == row.category) return kResultOk;

    uint8_t* frame = impl_->frame;
    if (BuildFrame(n, p1, static_cast<uint8_t>(p2), frame) != kResultOk) {
        state_.report_text = Format("Parameter1 is invalid!\n\ncmd = %Xh(%d),  param1 = %Xh,  param2 = %Xh(%d)",
                             static_cast<unsigned>(n), n, static_cast<unsigned>(static_cast<int8_t>(p1)),
                             static_cast<unsigned>(p2), static_cast<int>(p2));
        if (state_.link_debug) ShowMessage(state_.report_text);
        return kResultParameterError;
    }

    // The report is started afresh for every command, in every mode, so it only ever holds
    // the current command's story.
    state_.report_text = Format("Following Command will(was) Sent!\n\ncmd = %Xh(%d),  param1 = %Xh(%c),  param2 = %sh(%d)",
                         static_cast<unsigned>(n), n, static_cast<unsigned>(static_cast<int8_t>(p1)),
                         static_cast<char>(frame[8]), FormatHexByte(p2).c_str(), static_cast<int>(p2));
    // Bytes 0-9 as characters; a zero value byte cannot be carried by the text and is left out.
    state_.report_text += "\n\nASCII = ";
    state_.report_text.append(reinterpret_cast<const char*>(frame), frame[9] == 0 ? 9 : 10);
    state_.report_text += Format("\n\nbinary = %02xh, %02xh, %02xh, %02xh, %02xh, %02xh, %02xh, %02xh, %02xh, %sh, %02xh",
                          frame[0], frame[1], frame[2], frame[3], frame[4], frame[5], frame[6], frame[7],
                          frame[8], FormatHexByte(static_cast<int8_t>(frame[9])).c_str(), frame[10]);
    state_.report_text += "\n\n" + TickTimeText(Ticks().Now());
    state_.report_text += "\n\n-----<result>-----------------------------------------------\n\n";

    // From here on the port is used.
    TransactionEnd end(*this);
    // No-ACK mode never reads replies, so it never waits for late ones either.
    if (state_.link_no_ack == 1) {
        Ticks().WaitSince(state_.link_last_tick, kNoAckSpacingMs);
    } else {
        if (impl_->replies_owed > 0) {
            ReadOwedReplies(kLateReplyLimitMs, true);
            GiveUpOwedReplies();
        }
        // In a session, a reply that came in since is one that no frame was owed (before the
        // login, what the port held is only dropped).
        if (state_.link_connected == 1 && !ReadOwedReplies(0, false)) return OutOfStep();
    }
    const uint32_t replies_read = impl_->replies_read;
    ++impl_->transactions;

    // A frame that did not go out whole ends the transaction; the port says why if it knows.
    auto write_failed = [&] {
        state_.link_last_tick = Ticks().Now();
        if (const SerialPort* port = Port(state_.link_port))
            state_.link_failure = !port->ErrorText().empty() ? port->ErrorText()
                                                             : port->DeviceName() + ": the frame could not be written whole";
        return kResultNotSent;
    };
    if (WriteComCommand() != kResultOk) return write_failed();
    int r = ReadComAck();
    for (const Resend& resend : kResends) {
        if (r != resend.after) break;
        state_.report_text += resend.report;
        impl_->trace.Event(Ticks().Now(), TraceDevice(), resend.trace);
        if (WriteComCommand() != kResultOk) return write_failed();
        r = ReadComAck();
    }
    // A reply of any kind shows the box is there; only a time-out of every write is silence.
    state_.link_silent = r == kResultTimeout && impl_->reply[0] == 0 ? state_.link_silent + 1 : 0;
    // A reply read while replies given up are astray may be one of them: then the frame's own
    // reply comes after it, within the time a box that answers on time takes. Replies that come
    // later still are found before the next write or by SettleReplies; whoever finds them,
    // every transaction since the link last knew its replies in step is doubted.
    if (impl_->replies_astray > 0 && impl_->replies_read != replies_read) {
        if (!ReadOwedReplies(kOnTimeReplyMs, false)) return OutOfStep();
        GiveUpOwedReplies();
    }
    if (r != kResultOk) {
        if (const SerialPort* port = Port(state_.link_port); port && r == kResultTimeout)
            state_.link_failure = port->DeviceName() + ": the box did not answer within 100 ms";
        if (state_.link_debug) ShowMessage(state_.report_text);
        state_.link_last_tick = Ticks().Now();
        return r;
    }
    state_.link_last_tick = Ticks().Now();
    state_.link_category = row.category;
    return kResultOk;
}

int RS232c_bios::SettleReplies() {
    if (Away()) return Elsewhere([this] { return SettleReplies(); });
    if (state_.link_virtual || state_.link_no_ack) return 1;
    // Every transaction in step already: whatever still comes can no longer be misread by them.
    if ((impl_->replies_owed == 0 && impl_->replies_astray == 0) || impl_->in_step_through == impl_->transactions)
        return 1;
    TransactionEnd end(*this);
    SerialPort* port = Port(state_.link_port);
    if (!port || !port->IsUsable()) {
        // What may still come can no longer be read: the replies taken since cannot be vouched for.
        impl_->trace.Event(Ticks().Now(), TraceDevice(), "replies given up cannot be waited for: the port is closed");
        if (impl_->in_step_through < impl_->transactions)
            impl_->doubted.emplace_back(impl_->in_step_through + 1, impl_->transactions);
        ForgetReplies();
        return 0;
    }
    if (impl_->replies_owed > 0) {
        ReadOwedReplies(kLateReplyLimitMs, true);
        GiveUpOwedReplies();
    }
    if (impl_->replies_astray == 0) return 1;
    TickSource& ticks = Ticks();
    const uint32_t now = ticks.Now();
    const int32_t left = static_cast<int32_t>(impl_->astray_until - now);
    if (left > 0) {
        impl_->trace.Event(now, TraceDevice(),
                           Format("waiting up to %d ms for the replies given up, to know the replies taken in step", left));
        // No reply is owed: any that begins is one that no frame was owed.
        if (!ReadOwedReplies(TicksBetween(impl_->activity_tick, now) + static_cast<uint32_t>(left), false)) {
            OutOfStep();
            return 0;
        }
    }
    impl_->replies_astray = 0;
    return 1;
}

void RS232c_bios::SetNoAckMode(int flag) { state_.link_no_ack = flag; }

void RS232c_bios::SetVirtualMode(int flag) {
    state_.link_category = kCategoryUnknown;
    state_.link_virtual = flag;
    if (flag) state_.link_busy = 0;
}

void RS232c_bios::SetDebugMode(int flag) { state_.link_debug = flag; }

int RS232c_bios::IsBusy() const { return state_.link_busy; }

}  // namespace dpx
