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

// A device reported gone (a USB adapter pulled out) ends the session when the transaction
// ends, as a failed port open does, so the next connect opens it again and logs in.
class RS232c_bios::GoneCheck {
public:
    explicit GoneCheck(RS232c_bios& link) : link_(link) {}
    ~GoneCheck() { link_.EndSessionIfGone(); }
    GoneCheck(const GoneCheck&) = delete;
    GoneCheck& operator=(const GoneCheck&) = delete;

private:
    RS232c_bios& link_;
};

int RS232c_bios::SendCommand(int n, char p1, int8_t p2) {
    if (Away()) return Elsewhere([&] { return SendCommand(n, p1, p2); });
    state_.link_result = Transact(n, p1, p2);
    return state_.link_result;
}

// A reply that comes after its time-out would be taken for the next frame's: replies come in
// order and name no command. So before the first write of a transaction the replies still
// owed for earlier frames are read and dropped, each as it comes, waiting for them until
// kLateReplyLimitMs after the last write or the last late byte, whichever is later (the
// pacing waits the link has already made count towards it). Bytes before a reply's first
// byte (the rest of a reply cut short by a time-out, noise) are dropped uncounted. Replies
// that have not come by then are given up as lost. Only a transaction after a time-out pays.
void RS232c_bios::ReadLateReplies() {
    SerialPort* port = Port(state_.link_port);
    TickSource& ticks = Ticks();
    std::string late;  // the late reply being read
    while (port && impl_->replies_owed > 0) {
        const uint32_t waited = TicksBetween(impl_->activity_tick, ticks.Now());
        if (waited >= kLateReplyLimitMs) break;
        uint32_t errors = 0;
        uint32_t queued = 0;
        if (!port->ClearError(&errors, &queued, kLateReplyLimitMs - waited)) break;
        for (; queued > 0 && impl_->replies_owed > 0; --queued) {
            uint8_t byte = 0;
            if (port->ReadByte(&byte) != 1) break;
            if (late.empty() && byte != kReplyStart) continue;
            impl_->activity_tick = ticks.Now();
            state_.link_silent = 0;  // the box is there, only late
            late.push_back(static_cast<char>(byte));
            if (byte != '\r' && late.size() < kFrameSize) continue;
            impl_->trace.Late(impl_->activity_tick, TraceDevice(), late);
            late.clear();
            --impl_->replies_owed;
        }
    }
    if (impl_->replies_owed > 0) {
        impl_->trace.Event(ticks.Now(), TraceDevice(),
                           Format("%u late repl%s not come within %u ms: given up", impl_->replies_owed,
                                  impl_->replies_owed == 1 ? "y did" : "ies did", kLateReplyLimitMs));
        impl_->replies_owed = 0;
    }
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
    GoneCheck gone(*this);
    // No-ACK mode never reads replies, so it never waits for late ones either.
    if (state_.link_no_ack == 1) Ticks().WaitSince(state_.link_last_tick, kNoAckSpacingMs);
    else if (impl_->replies_owed > 0) ReadLateReplies();

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

void RS232c_bios::SetNoAckMode(int flag) { state_.link_no_ack = flag; }

void RS232c_bios::SetVirtualMode(int flag) {
    state_.link_category = kCategoryUnknown;
    state_.link_virtual = flag;
    if (flag) state_.link_busy = 0;
}

void RS232c_bios::SetDebugMode(int flag) { state_.link_debug = flag; }

int RS232c_bios::IsBusy() const { return state_.link_busy; }

}  // namespace dpx
