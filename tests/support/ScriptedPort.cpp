#include "tests/support/ScriptedPort.h"

#include <algorithm>
#include <memory>

#include "common/TickSource.h"

namespace dpx::test {
namespace {

// True when `tick` is not later than `now` (wrap-safe).
bool Reached(uint32_t tick, uint32_t now) { return static_cast<int32_t>(now - tick) >= 0; }

}  // namespace

Frame Bytes(std::string_view text) { return Frame(text.begin(), text.end()); }

ReplyScript Reply(std::string_view text, uint32_t delay_ms) {
    ReplyScript script;
    script.bytes = Bytes(text);
    script.delay_ms = delay_ms;
    return script;
}

ReplyScript Ack(uint32_t delay_ms) { return Reply("@00BOK.000\r", delay_ms); }

ReplyScript Nak(uint8_t status, uint32_t delay_ms) {
    ReplyScript script = Reply("@00BNG", delay_ms);
    script.bytes.push_back(status);
    for (char c : std::string_view("000\r")) script.bytes.push_back(static_cast<uint8_t>(c));
    return script;
}

ReplyScript NoReply() { return ReplyScript{}; }

ReplyScript ShortWrite(uint32_t written) {
    ReplyScript script;
    script.written = written;
    return script;
}

ReplyScript GoneAtWrite() {
    ReplyScript script;
    script.gone = true;
    return script;
}

ScriptedPort::ScriptedPort(int com_number) : com_number_(com_number) {}

void ScriptedPort::Vanish() {
    gone = true;
    input_.clear();
    error_text_ = DeviceName() + ": device gone";
}

void ScriptedPort::VanishWhileIdle() {
    Vanish();
    ReportGone();
}

void ScriptedPort::Deliver(const Frame& bytes, uint32_t delay_ms) {
    const uint32_t now = Ticks().Now();
    for (uint8_t b : bytes) Insert(now + delay_ms, b);
}

std::string ScriptedPort::FrameText(std::size_t i) const {
    const Frame& f = frames.at(i);
    return std::string(f.begin(), f.end());
}

std::size_t ScriptedPort::Arrived() const {
    const uint32_t now = Ticks().Now();
    std::size_t n = 0;
    while (n < input_.size() && Reached(input_[n].first, now)) ++n;
    return n;
}

std::size_t ScriptedPort::Queued() const { return Arrived(); }

std::size_t ScriptedPort::InFlight() const { return input_.size() - Arrived(); }

// Keeps input_ in arrival order; bytes of equal tick stay in the order they were given.
void ScriptedPort::Insert(uint32_t tick, uint8_t byte) {
    auto later = std::find_if(input_.begin(), input_.end(), [&](const auto& entry) {
        return static_cast<int32_t>(entry.first - tick) > 0;
    });
    input_.insert(later, {tick, byte});
}

void ScriptedPort::Schedule(const ReplyScript& script) {
    uint32_t at = Ticks().Now() + script.delay_ms;
    const std::size_t n = std::min(script.bytes.size(), script.stop_after);
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) at += script.byte_ms;
        if (i == script.gap_after) at += script.gap_ms;
        Insert(at, script.bytes[i]);
    }
}

bool ScriptedPort::Open() {
    ++open_calls;
    if (fail_open || open_failures > 0) {
        if (open_failures > 0) --open_failures;
        is_open = false;
        error_text_ = DeviceName() + ": cannot open";
        return false;
    }
    is_open = true;
    gone = false;
    input_.clear();
    error_text_.clear();
    return true;
}

void ScriptedPort::Close() {
    ++close_calls;
    is_open = false;
    input_.clear();
}

bool ScriptedPort::ReadLineSettings() {
    ++read_settings_calls;
    return IsUsable() && !fail_read_settings;
}

bool ScriptedPort::ApplyLineSettings() {
    ++apply_settings_calls;
    return IsUsable() && !fail_apply_settings;
}

bool ScriptedPort::ApplyTimeouts() {
    ++apply_timeouts_calls;
    return IsUsable();
}

bool ScriptedPort::Purge() {
    ++purge_calls;
    if (!IsUsable() || fail_purge) return false;
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(Arrived()));
    return true;
}

bool ScriptedPort::ClearError(uint32_t* errors, uint32_t* queued, uint32_t wait_ms) {
    *errors = 0;
    *queued = 0;
    if (!IsUsable() || fail_clear_error) return false;
    *errors = error_word;
    error_word = 0;
    if (Arrived() == 0 && wait_ms > 0) {
        // Sleep until the next byte arrives or the wait ends, whichever is first.
        const uint32_t now = Ticks().Now();
        uint32_t sleep = wait_ms;
        if (!input_.empty()) sleep = std::min(sleep, input_.front().first - now);
        Ticks().WaitSince(now, sleep);
    }
    *queued = static_cast<uint32_t>(Arrived());
    return true;
}

uint32_t ScriptedPort::Write(const uint8_t* data, uint32_t n) {
    if (!IsUsable()) {
        ++failed_writes;
        return 0;
    }
    ReplyScript script;
    if (!replies.empty()) {
        script = std::move(replies.front());
        replies.pop_front();
    } else if (responder) {
        const Frame frame(data, data + n);
        script.bytes = responder(frame);
        script.delay_ms = responder_latency ? responder_latency(frame) : responder_delay_ms;
        script.byte_ms = responder_byte_ms;
    }
    if (script.gone) {
        Vanish();
        ++failed_writes;
        return 0;
    }
    const uint32_t written = std::min({n, write_limit, script.written});
    frames.emplace_back(data, data + written);
    write_ticks.push_back(Ticks().Now());
    Schedule(script);
    return written;
}

uint32_t ScriptedPort::ReadByte(uint8_t* byte) {
    if (!IsUsable()) return 0;
    if (Arrived() == 0) {
        const uint32_t now = Ticks().Now();
        if (input_.empty() || input_.front().first - now > kReadTimeoutMs) {
            Ticks().WaitSince(now, kReadTimeoutMs);
            return 0;
        }
        Ticks().WaitSince(now, input_.front().first - now);
    }
    *byte = input_.front().second;
    input_.pop_front();
    return 1;
}

std::string ScriptedPort::DeviceName() const { return "COM" + std::to_string(com_number_); }

ScriptedPorts InstallScriptedPorts(RS232c_bios& link) {
    // The factory keeps the ports until the link asks for them; from then on the link owns
    // them. Either way the pointers handed back stay valid while the link keeps the factory.
    auto pending = std::make_shared<std::array<std::unique_ptr<ScriptedPort>, 9>>();
    ScriptedPorts ports;
    for (int n = 1; n <= 8; ++n) {
        (*pending)[n] = std::make_unique<ScriptedPort>(n);
        ports.com[n] = (*pending)[n].get();
    }
    link.SetPortFactory([pending](int n) -> std::unique_ptr<SerialPort> {
        if (n < 1 || n > 8 || !(*pending)[n]) return nullptr;
        (*pending)[n]->made = true;
        return std::move((*pending)[n]);
    });
    return ports;
}

}  // namespace dpx::test
