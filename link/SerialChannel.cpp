// The serial channel: opening and configuring the current COM port, writing one frame,
// and waiting for, reading and classifying the box's reply within the time limits.
#include <cstring>
#include <optional>
#include <utility>

#include "common/MessageSink.h"
#include "common/TickSource.h"
#include "link/LinkImpl.h"

namespace dpx {
namespace {

constexpr uint32_t kFirstByteLimitMs = 100;  // first reply byte, from the write
constexpr uint32_t kReplyLimitMs = 100;      // the rest of the reply, from its first byte
constexpr uint32_t kInvalidHandle = 0xFFFFFFFFu;

}  // namespace

int RS232c_bios::OpenComPort() {
    if (Away()) return Elsewhere([this] { return OpenComPort(); });
    if (state_.link_port < 1 || state_.link_port > kPortCount) {
        state_.report_text = Format("COM port number is invalid!\nnumber = %d.", state_.link_port);
        ShowMessage(state_.report_text);
        return 0;
    }
    const int slot = state_.link_port - 1;
    std::unique_ptr<SerialPort>& port = impl_->ports[slot];
    // While disconnected, a port whose COM number now names another device is given up
    // (and closed), so a changed map takes effect at the next connect.
    if (port && state_.link_connected == 0 && impl_->namer && port->DeviceName() != impl_->namer(state_.link_port))
        port.reset();
    // A port that is open stays open. One that vanished (IsUsable() false) counts as an
    // invalid handle and is opened again below.
    if (port && port->IsUsable()) {
        if (impl_->configured[slot]) return 1;
    } else {
        if (!port && impl_->factory) {
            port = impl_->factory(state_.link_port);
            if (port) {
                SerialPort* made = port.get();
                made->SetNoteSink([this, made](const std::string& text) {
                    impl_->trace.Event(Ticks().Now(), made->DeviceName(), text);
                });
                made->SetGoneHandler([this, n = state_.link_port] { PortGone(n); });
            }
        }
        impl_->configured[slot] = false;
        // One device, one open port of ours: another COM number's idle port on the same
        // device would hold it busy.
        for (int other = 0; port && other < kPortCount; ++other) {
            if (other == slot || !impl_->ports[other]) continue;
            if (impl_->ports[other]->DeviceName() != port->DeviceName()) continue;
            impl_->ports[other].reset();
            impl_->configured[other] = false;
        }
        if (!port || !port->Open()) {
            state_.link_failure = port ? port->ErrorText() : Format("COM%d: no port can be made for its device name", state_.link_port);
            impl_->trace.Event(Ticks().Now(), TraceDevice(), "open failed: " + state_.link_failure);
            state_.report_text = Format("Create COM%d port NG! handle = %X.", state_.link_port, kInvalidHandle);
            if (state_.link_debug) ShowMessage(state_.report_text, state_.link_failure);
            return 0;
        }
        impl_->heard = false;
        ForgetReplies();  // a port opened afresh owes nothing from before...
        TakeAstrayRecord(*port);  // ...but an earlier program may have left replies on the line
    }
    // Configuration runs again on the next open if it failed here, so a port is never
    // reported ready with line settings that were not applied.
    if (!port->ReadLineSettings()) {
        state_.link_failure = port->ErrorText();
        impl_->trace.Event(Ticks().Now(), TraceDevice(), "open failed: line settings unreadable: " + state_.link_failure);
        if (state_.link_debug) ShowMessage("GetCommState is false!");
        return 0;
    }
    if (!port->ApplyLineSettings()) {
        state_.link_failure = port->ErrorText();
        impl_->trace.Event(Ticks().Now(), TraceDevice(), "open failed: line settings refused: " + state_.link_failure);
        if (state_.link_debug) ShowMessage("SetCommState is false!");
        return 0;
    }
    port->ApplyTimeouts();  // its result does not matter
    impl_->configured[slot] = true;
    impl_->trace.Event(Ticks().Now(), TraceDevice(), "open");
    return 1;
}

void RS232c_bios::TakeAstrayRecord(const SerialPort& port) {
    if (!impl_->records) return;
    const std::optional<AstrayNote> note = impl_->records->Read(port.DeviceName());
    if (!note) return;
    impl_->recorded = *note;  // the next record replaces it, or removes it
    // A record from before a restart of the system, or not from this link's clock, is ignored.
    const int32_t left = static_cast<int32_t>(note->until - Ticks().Now());
    if (note->replies == 0 || left <= 0 || left > static_cast<int32_t>(kAstrayLimitMs)) return;
    impl_->replies_astray = note->replies;
    impl_->astray_until = note->until;
    impl_->astray_recorded = true;
    impl_->trace.Event(Ticks().Now(), port.DeviceName(),
                       Format("%u repl%s given up by an earlier session may still come within %d ms", note->replies,
                              note->replies == 1 ? "y" : "ies", left));
}

int RS232c_bios::WriteComCommand() {
    SerialPort* port = Port(state_.link_port);
    // A port whose device is gone fails every step below: its lines are shown once, with
    // the failed write, rather than one message box per step.
    auto report = [&](const std::string& line) {
        state_.report_text += line;
        if (port && port->IsUsable()) ShowMessage(state_.report_text);
    };
    // What came before a frame is stale and dropped, unless a reply to an earlier write of
    // this same frame is still owed (the resend after a time-out): that reply is this frame's
    // as much as the resend's, and reading it keeps the count of owed replies true.
    if (impl_->replies_owed == 0 || state_.link_no_ack) {
        if (state_.link_no_ack) ForgetReplies();  // replies are never read in no-ACK mode
        if (!(port && port->Purge()) && state_.link_debug)
            report(Format("WriteComCommand : PurgeComm() : err = %d, dwFlags = %X", 0, 0x0Fu));
    }
    uint32_t errors = 0;
    uint32_t queued = 0;
    const bool cleared = port && port->ClearError(&errors, &queued, 0);
    errors |= std::exchange(impl_->line_errors, 0);
    if (state_.link_debug) {
        if (!cleared)
            report(Format("WriteComCommand : ClearCommError() : err = %d, swErrrors = %d", 0, static_cast<int>(errors)));
        if (errors != 0) report(Format("WriteComCommand : ClearCommError : error = %d", static_cast<int>(errors)));
    }
    impl_->bytes_written = port ? port->Write(impl_->frame, kFrameSize) : 0;
    impl_->activity_tick = Ticks().Now();
    if (impl_->bytes_written == kFrameSize) {
        impl_->trace.Send(impl_->activity_tick, TraceDevice(), impl_->frame, kFrameSize);
        ++impl_->replies_owed;
        return kResultOk;
    }
    const std::string why = port ? port->ErrorText() : std::string();
    impl_->trace.NotSent(impl_->activity_tick, TraceDevice(), impl_->frame, kFrameSize,
                         Format("%u of %u bytes written", impl_->bytes_written, static_cast<unsigned>(kFrameSize)) +
                             (why.empty() ? "" : "; " + why));
    if (state_.link_debug) {
        state_.report_text += Format("Write data length is false!\n[ %d byte write ]",
                              static_cast<int>(impl_->bytes_written));
        ShowMessage(state_.report_text);
    }
    return kResultNotSent;
}

int RS232c_bios::ReadComAck() {
    if (state_.link_no_ack) return kResultOk;
    SerialPort* port = Port(state_.link_port);
    uint8_t* reply = impl_->reply;
    std::memset(reply, 0, kReplyBufferSize);
    // Bytes that begin as a reply does are the reply of one owed frame, also when cut short;
    // anything else (the rest of a reply cut short earlier, noise) is not counted.
    // The wait for late replies counts from the last reply byte too.
    auto count_reply = [&] {
        if (reply[0] != kReplyStart) return;
        impl_->heard = true;
        ++impl_->replies_read;
        impl_->activity_tick = Ticks().Now();
        if (impl_->replies_owed > 0) --impl_->replies_owed;
    };

    // First byte. Instead of polling the queue in a tight loop, the port blocks until a
    // byte comes or the limit is passed; the elapsed check still comes before the queue
    // check, so a byte arriving after 100 ms is a time-out.
    const uint32_t t0 = Ticks().Now();
    uint32_t now = t0;
    for (;;) {
        const uint32_t wait_ms = kFirstByteLimitMs + 1 - TicksBetween(t0, now);
        uint32_t errors = 0;
        uint32_t queued = 0;
        if (!(port && port->ClearError(&errors, &queued, wait_ms))) {
            // State unreadable: no byte can be seen, so sleep out the limit rather than spin.
            queued = 0;
            Ticks().WaitSince(now, wait_ms);
        }
        now = Ticks().Now();
        if (TicksBetween(t0, now) > kFirstByteLimitMs) {
            state_.report_text += "ACK data cannot get within 100msec.!\n\n" + TickTimeText(now);
            impl_->trace.Reply(now, TraceDevice(), reply, 0, kResultTimeout);
            return kResultTimeout;
        }
        if (queued != 0) break;
    }
    state_.report_text += Format("ACK first byte received after %dmS from command sent.\n\n",
                          static_cast<int>(TicksBetween(t0, now))) +
                   TickTimeText(now);

    const uint32_t t1 = Ticks().Now();
    int filled = 0;
    for (std::size_t pos = 0; pos < kFrameSize; ++pos) {
        uint8_t byte = 0;
        if (port) port->ReadByte(&byte);  // a read that got nothing leaves the zero
        reply[pos] = byte;
        filled = static_cast<int>(pos) + 1;
        if (byte == '\r') break;
        now = Ticks().Now();
        if (TicksBetween(t1, now) > kReplyLimitMs) {
            state_.report_text += "\n\nACK data cannot get compleately within 100msec!\n\n" + TickTimeText(now);
            impl_->trace.Reply(now, TraceDevice(), reply, static_cast<std::size_t>(filled), kResultTimeout);
            count_reply();
            return kResultTimeout;
        }
    }
    state_.report_text += Format("\n\nACK data = %s\n[ %d byte read ]", reinterpret_cast<const char*>(reply), filled);
    count_reply();

    const int result = ClassifyReply(reply);
    impl_->reply_tick = Ticks().Now();
    impl_->trace.Reply(impl_->reply_tick, TraceDevice(), reply, static_cast<std::size_t>(filled), result);
    if (result == kResultOk) {
        state_.report_text += "\n\nOK! ACK received!";
    } else if (std::memcmp(reply, kNakPrefix, 6) == 0) {
        switch (result) {
            case kResultUnknownCommand:
                state_.report_text += "\n\nNAK received! status = 0 : unknown command";
                break;
            case kResultParameterError:
                state_.report_text += "\n\nNAK received! status = 1 : parameter err";
                break;
            case kResultInvalidNow:
                state_.report_text += "\n\nNAK received! status = 2 : invalid now";
                break;
            default:
                state_.report_text += Format("\n\nNAK received! status = %d : bug??",
                                      static_cast<int>(static_cast<int8_t>(reply[6])));
                break;
        }
    } else {
        state_.report_text += "\n\nUnknown status (not ACK/NAK) received! bug??";
    }
    return result;
}

void RS232c_bios::SplitTickTime(uint32_t tick, int* days, int* hours, int* minutes, int* seconds,
                                int* milliseconds) {
    *days = static_cast<int>(tick / 86400000u);
    tick %= 86400000u;
    *hours = static_cast<int>(tick / 3600000u);
    tick %= 3600000u;
    *minutes = static_cast<int>(tick / 60000u);
    tick %= 60000u;
    *seconds = static_cast<int>(tick / 1000u);
    *milliseconds = static_cast<int>(tick % 1000u);
}

std::string RS232c_bios::FormatHexByte(int value) {
    if (value < -127 || value > 127) return "??";
    return Format("%02X", static_cast<unsigned>(value < 0 ? value + 256 : value));
}

}  // namespace dpx
