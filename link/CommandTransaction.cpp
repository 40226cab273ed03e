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

// A device reported gone (a USB adapter pulled out) ends the session when the transaction
// ends, as a failed port open does, so the next connect opens it again and logs in.
class GoneCheck {
public:
    explicit GoneCheck(RS232c_bios& link) : link_(link) {}
    ~GoneCheck() {
        const SerialPort* port = link_.Port(link_.link_port);
        if (!port || port->IsUsable()) return;
        link_.link_connected = 0;
        link_.link_category = kCategoryUnknown;
        link_.link_failure = port->ErrorText();
    }
    GoneCheck(const GoneCheck&) = delete;
    GoneCheck& operator=(const GoneCheck&) = delete;

private:
    RS232c_bios& link_;
};

}  // namespace

int RS232c_bios::SendCommand(int n, char p1, int8_t p2) {
    link_result = Transact(n, p1, p2);
    return link_result;
}

// A reply that came after its time-out may still be on its way, or wait unread after a
// resend's purge; the next frame would take it for its own. So the next transaction's first
// write waits until no byte has come for 100 ms (at most 500 ms), then purges. The quiet
// time counts from when the last frame's reply was due at the earliest, so a reply that is
// only a little late is still caught.
void RS232c_bios::AwaitQuietLine() {
    impl_->late_reply_possible = false;
    SerialPort* port = Port(link_port);
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
    if (link_virtual) return kResultOk;
    BusyScope busy(link_busy);
    GoneCheck gone(*this);

    if (link_connected != 1 && n != kBCN_Login) return kResultNotSent;
    if (n < 0 || n >= kSendableCommands) {
        if (link_debug) ShowMessage("Unknown Command!");
        return kResultUnknownCommand;
    }
    const CommandRow& row = CommandTable[n];
    if (row.kind == kKindCategorySelect && link_category == row.category) return kResultOk;

    uint8_t* frame = impl_->frame;
    if (BuildFrame(n, p1, static_cast<uint8_t>(p2), frame) != kResultOk) {
        report_text = Format("Parameter1 is invalid!\n\ncmd = %Xh(%d),  param1 = %Xh,  param2 = %Xh(%d)",
                             static_cast<unsigned>(n), n, static_cast<unsigned>(static_cast<int8_t>(p1)),
                             static_cast<unsigned>(p2), static_cast<int>(p2));
        if (link_debug) ShowMessage(report_text);
        return kResultParameterError;
    }

    // The report is started afresh for every command, in every mode, so it only ever holds
    // the current command's story.
    report_text = Format("Following Command will(was) Sent!\n\ncmd = %Xh(%d),  param1 = %Xh(%c),  param2 = %sh(%d)",
                         static_cast<unsigned>(n), n, static_cast<unsigned>(static_cast<int8_t>(p1)),
                         static_cast<char>(frame[8]), FormatHexByte(p2).c_str(), static_cast<int>(p2));
    // Bytes 0-9 as characters; a zero value byte cannot be carried by the text and is left out.
    report_text += "\n\nASCII = ";
    report_text.append(reinterpret_cast<const char*>(frame), frame[9] == 0 ? 9 : 10);
    report_text += Format("\n\nbinary = %02xh, %02xh, %02xh, %02xh, %02xh, %02xh, %02xh, %02xh, %02xh, %sh, %02xh",
                          frame[0], frame[1], frame[2], frame[3], frame[4], frame[5], frame[6], frame[7],
                          frame[8], FormatHexByte(static_cast<int8_t>(frame[9])).c_str(), frame[10]);
    report_text += "\n\n" + TickTimeText(Ticks().Now());
    report_text += "\n\n-----<result>-----------------------------------------------\n\n";

    if (link_no_ack == 1) Ticks().WaitSince(link_last_tick, kNoAckSpacingMs);
    if (impl_->late_reply_possible) AwaitQuietLine();

    if (WriteComCommand() != kResultOk) {
        link_last_tick = Ticks().Now();
        return kResultNotSent;
    }
    int r = ReadComAck();
    // Resend rule: a time-out is written once more; if the box then says "unknown
    // command" (the first frame may have reached it garbled), a third time.
    if (r == kResultTimeout) {
        impl_->late_reply_possible = true;
        report_text += "\n\n-----<try again>--------------------------------------------\n\n";
        impl_->trace.Event(Ticks().Now(), TraceDevice(), "resend (try again)");
        if (WriteComCommand() != kResultOk) {
            link_last_tick = Ticks().Now();
            return kResultNotSent;
        }
        r = ReadComAck();
        if (r == kResultUnknownCommand) {
            report_text += "\n\n-----<try one more>-----------------------------------------\n\n";
            impl_->trace.Event(Ticks().Now(), TraceDevice(), "resend (try one more)");
            if (WriteComCommand() != kResultOk) {
                link_last_tick = Ticks().Now();
                return kResultNotSent;
            }
            r = ReadComAck();
        }
    }
    if (r != kResultOk) {
        if (const SerialPort* port = Port(link_port); port && r == kResultTimeout)
            link_failure = port->DeviceName() + ": the box did not answer within 100 ms";
        if (link_debug) ShowMessage(report_text);
        link_last_tick = Ticks().Now();
        return r;
    }
    link_last_tick = Ticks().Now();
    link_category = row.category;
    return kResultOk;
}

void RS232c_bios::SetNoAckMode(int flag) { link_no_ack = flag; }

void RS232c_bios::SetVirtualMode(int flag) {
    link_category = kCategoryUnknown;
    link_virtual = flag;
    if (flag) link_busy = 0;
}

void RS232c_bios::SetDebugMode(int flag) { link_debug = flag; }

int RS232c_bios::IsBusy() const { return link_busy; }

}  // namespace dpx
