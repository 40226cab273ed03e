// The command transaction: the one way a frame reaches the box, with the category rule,
// the resend rule, the link modes and the diagnostic report.
#include <algorithm>
#include <cstring>

#include "common/MessageSink.h"
#include "common/TickSource.h"
#include "link/LinkImpl.h"

namespace dpx {
namespace {

constexpr uint32_t kNoAckSpacingMs = 70;
constexpr uint32_t kReplyDueMs = 100;    // a reply is late once this long after its frame
constexpr uint32_t kQuietLineMs = 100;   // no byte for this long: nothing more is on its way
constexpr uint32_t kQuietWaitMaxMs = 500;

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
    state_.link_result = Transact(n, p1, p2);
    return state_.link_result;
}

// A reply that came after its time-out may still be on its way, or wait unread after a
// resend's purge; the next frame would take it for its own. So the next transaction's first
// write waits until no byte has come for 100 ms (at most 500 ms), then purges. The quiet
// time counts from when the last frame's reply was due at the earliest, so a reply that is
// only a little late is still caught.
void RS232c_bios::AwaitQuietLine() {
    impl_->late_reply_possible = false;
    SerialPort* port = Port(state_.link_port);
    if (!port) return;
    TickSource& ticks = Ticks();
    const uint32_t start = ticks.Now();
    uint32_t quiet_since = start;
    if (TicksBetween(impl_->write_tick, start) < kReplyDueMs) quiet_since = impl_->write_tick + kReplyDueMs;
    for (;;) {
        const uint32_t now = ticks.Now();
        const uint32_t elapsed = TicksBetween(start, now);
        const auto quiet_left = static_cast<int32_t>(quiet_since + kQuietLineMs - now);
        if (elapsed >= kQuietWaitMaxMs || quiet_left <= 0) break;
        const uint32_t wait_ms = std::min(static_cast<uint32_t>(quiet_left), kQuietWaitMaxMs - elapsed);
        uint32_t errors = 0;
        uint32_t queued = 0;
        if (!port->ClearError(&errors, &queued, wait_ms)) {
            ticks.WaitSince(now, wait_ms);
            continue;
        }
        if (queued == 0) continue;
        impl_->trace.Event(ticks.Now(), TraceDevice(), Format("late bytes discarded (%u)", queued));
        if (!port->Purge()) break;  // they cannot be dropped: waiting longer would not help
        quiet_since = ticks.Now();
    }
    port->Purge();
}

int RS232c_bios::Transact(int n, char p1, int8_t p2) {
    if (state_.link_virtual) return kResultOk;
    BusyScope busy(state_.link_busy);
    GoneCheck gone(*this);

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

    if (state_.link_no_ack == 1) Ticks().WaitSince(state_.link_last_tick, kNoAckSpacingMs);
    if (impl_->late_reply_possible) AwaitQuietLine();

    if (WriteComCommand() != kResultOk) {
        state_.link_last_tick = Ticks().Now();
        return kResultNotSent;
    }
    int r = ReadComAck();
    // Resend rule: a time-out is written once more; if the box then says "unknown
    // command" (the first frame may have reached it garbled), a third time.
    if (r == kResultTimeout) {
        impl_->late_reply_possible = true;
        state_.report_text += "\n\n-----<try again>--------------------------------------------\n\n";
        impl_->trace.Event(Ticks().Now(), TraceDevice(), "resend (try again)");
        if (WriteComCommand() != kResultOk) {
            state_.link_last_tick = Ticks().Now();
            return kResultNotSent;
        }
        r = ReadComAck();
        if (r == kResultUnknownCommand) {
            state_.report_text += "\n\n-----<try one more>-----------------------------------------\n\n";
            impl_->trace.Event(Ticks().Now(), TraceDevice(), "resend (try one more)");
            if (WriteComCommand() != kResultOk) {
                state_.link_last_tick = Ticks().Now();
                return kResultNotSent;
            }
            r = ReadComAck();
        }
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

void RS232c_bios::SetNoAckMode(int flag) { state_.link_no_ack = flag; }

void RS232c_bios::SetVirtualMode(int flag) {
    state_.link_category = kCategoryUnknown;
    state_.link_virtual = flag;
    if (flag) state_.link_busy = 0;
}

void RS232c_bios::SetDebugMode(int flag) { state_.link_debug = flag; }

int RS232c_bios::IsBusy() const { return state_.link_busy; }

}  // namespace dpx
