// The link connection: which COM port is used, and logging in to and off the box.
#include <utility>

#include "common/MessageSink.h"
#include "common/TickSource.h"
#include "link/LinkImpl.h"

namespace dpx {
namespace {
constexpr uint32_t kLoginSpacingMs = 300;
}

int RS232c_bios::SetComNumber(int n) {
    if (Away()) return Elsewhere([&] { return SetComNumber(n); });
    if (n < 1 || n > kPortCount) {
        state_.report_text = Format("SetComNumber : COM port number is invalid!\nnumber = %d.", n);
        ShowMessage(state_.report_text);
        return 0;
    }
    if (n == state_.link_port) return 1;
    if (state_.link_connected == 1) {
        state_.report_text = Format("SetComNumber : %s is already started.\n\nIf you want to change it, please log off as first.",
                             PortName(state_.link_port).c_str());
        ShowMessage(state_.report_text);
        return 0;
    }
    // The old port stays open (a network port is closed); the new one is opened by the next
    // connect. The count of replies owed belonged to the old port's box.
    ReleaseIdlePort(state_.link_port);
    ForgetReplies();
    state_.link_last_tick = Ticks().Now();
    state_.link_port = n;
    state_.link_connected = 0;
    return 1;
}

void RS232c_bios::ReleaseIdlePort(int n) {
    SerialPort* port = Port(n);
    if (!port || !port->IsNetworkPort() || !port->IsUsable()) return;
    port->Close();
    impl_->configured[static_cast<std::size_t>(n - 1)] = false;
    impl_->trace.Event(Ticks().Now(), port->DeviceName(), "closed: a network port is not kept while logged off");
}

int RS232c_bios::ConnectLink(int want) {
    if (Away()) return Elsewhere([&] { return ConnectLink(want); });
    state_.link_category = kCategoryUnknown;
    if (state_.link_virtual) return 1;
    want = want ? 1 : 0;
    if (want == 1 && state_.link_connected == 1) {
        if (state_.link_debug) ShowMessage("COM Port already connected!");
        return 1;
    }
    if (want == 0 && state_.link_connected == 0) {
        if (state_.link_debug) ShowMessage("COM Port already disconnected!");
        return 1;
    }
    state_.link_failure.clear();
    auto attempt = [&] {
        if (!OpenComPort()) {
            if (state_.link_debug) ShowMessage("Cannot Start Port!");
            state_.link_connected = 0;
            return 0;
        }
        // The frame follows the link's state, not the request; with want 0 or 1 they agree.
        const bool login = state_.link_connected == 0;
        if (login && impl_->astray_recorded) AwaitAstrayBeforeLogin();
        Ticks().WaitSince(state_.link_last_tick, kLoginSpacingMs);
        const int result = SendCommand(login ? kBCN_Login : kBCN_Logoff, 0, 0);
        impl_->trace.Event(Ticks().Now(), TraceDevice(), login ? "login" : "logoff", result);
        if (result != kResultOk) {
            if (state_.link_debug) ShowMessage(login ? "RemoteLogin : ERROR!" : "RemoteLogoff : ERROR!");
            state_.link_last_tick = Ticks().Now();
            state_.link_category = kCategoryUnknown;
            return 0;
        }
        state_.link_connected = want;
        state_.link_last_tick = Ticks().Now();
        state_.link_category = kCategoryNone;
        return 1;
    };
    const int done = attempt();
    // Logged off, or the login failed: a network port is given up until the next connect.
    if (state_.link_connected == 0) ReleaseIdlePort(state_.link_port);
    return done;
}

void RS232c_bios::AwaitAstrayBeforeLogin() {
    SerialPort* port = Port(state_.link_port);
    uint32_t expected = impl_->replies_owed + impl_->replies_astray;
    TickSource& ticks = Ticks();
    uint32_t now = ticks.Now();
    // Until the last of them is no longer expected.
    uint32_t until = impl_->replies_astray > 0 ? impl_->astray_until : now;
    const uint32_t owed_until = impl_->activity_tick + kAstrayLimitMs;
    if (impl_->replies_owed > 0 && static_cast<int32_t>(owed_until - until) > 0) until = owed_until;
    impl_->astray_recorded = false;
    if (port && expected > 0 && !state_.link_no_ack && static_cast<int32_t>(until - now) > 0) {
        impl_->trace.Event(now, TraceDevice(),
                           Format("before the login: waiting up to %u ms for %u repl%s given up earlier", until - now,
                                  expected, expected == 1 ? "y" : "ies"));
        std::string late;  // the reply being read
        while (expected > 0 && static_cast<int32_t>(until - now) > 0) {
            uint32_t errors = 0;
            uint32_t queued = 0;
            if (!port->ClearError(&errors, &queued, until - now)) break;
            if (queued == 0 && ticks.Now() == now) ticks.WaitSince(now, until - now);  // a port that did not wait
            for (; queued > 0 && expected > 0; --queued) {
                uint8_t byte = 0;
                if (port->ReadByte(&byte) != 1) break;
                if (late.empty() && byte != kReplyStart) continue;
                impl_->heard = true;
                late.push_back(static_cast<char>(byte));
                if (byte != '\r' && late.size() < kFrameSize) continue;
                impl_->trace.Late(ticks.Now(), TraceDevice(), late);
                late.clear();
                --expected;
            }
            now = ticks.Now();
        }
    }
    ForgetReplies();
    RecordAstray();
}

// The session ends when the current port's device has gone, whoever found it.
void RS232c_bios::EndSessionIfGone() {
    const SerialPort* port = Port(state_.link_port);
    if (!port || port->IsUsable()) return;
    const bool ended = state_.link_connected == 1;
    state_.link_connected = 0;
    state_.link_category = kCategoryUnknown;
    state_.link_failure = port->ErrorText();
    if (!ended) return;
    impl_->trace.Event(Ticks().Now(), TraceDevice(), "session ended: " + state_.link_failure);
    if (impl_->device_gone) impl_->device_gone();
}

void RS232c_bios::PortGone(int n) {
    const SerialPort* port = Port(n);
    if (!port) return;
    impl_->trace.Event(Ticks().Now(), port->DeviceName(), "closed while idle: " + port->ErrorText());
    // A transaction in progress (a debug message box runs the event loop) ends the
    // session itself when it returns.
    if (n == state_.link_port && !state_.link_busy) EndSessionIfGone();
}

RS232c_bios::TakenHandler RS232c_bios::SetTakenHandler(TakenHandler handler) {
    TakenHandler previous = std::move(impl_->taken);
    impl_->taken = std::move(handler);
    return previous;
}

RS232c_bios::DeviceGoneHandler RS232c_bios::SetDeviceGoneHandler(DeviceGoneHandler handler) {
    std::swap(impl_->device_gone, handler);
    return handler;
}

}  // namespace dpx
