#pragma once
// A scripted serial port for unit and UI tests, on the FakeClock of Recorders.h (any
// installed TickSource works; with the FakeClock no test waits for real).
//
// Quick start:
//
//     FakeClock clock;                       // before the link: it reads the tick at birth
//     RS232c_bios link;
//     ScriptedPort* port = InstallScriptedPorts(link);  // COM1; InstallScriptedPorts(link)[3] is COM3
//     port->replies = {Ack(), Nak(2), NoReply()};        // one script per write, in order
//     link.ConnectLink(1);                                // login gets the ACK
//     EXPECT_EQ(port->FrameText(0), "!00BCN1000\r");
//
// Or put a box behind it: `port->responder = [&](const Frame& f) { return box.Handle(f); };`
// answers every write that has no script left in `replies` (no responder: no reply).
//
// Time: a reply's bytes arrive on the clock, `delay_ms` after the write that drew them
// (then `byte_ms` apart). ClearError(wait_ms) moves the clock to the next byte's arrival or
// to the end of the wait, whichever is first; ReadByte of a byte that does not come within
// the 310 ms read time-out moves the clock by 310 ms and returns 0. Bytes that arrived stay
// queued until read or purged; Purge drops only bytes that have already arrived.
#include <array>
#include <cstdint>
#include <cstddef>
#include <deque>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "link/RS232c_bios.h"
#include "link/SerialPort.h"

namespace dpx::test {

using Frame = std::vector<uint8_t>;

// What one write draws from the box, and how the write itself goes.
struct ReplyScript {
    Frame bytes;                   // the reply; empty: no reply at all
    uint32_t delay_ms = 0;         // from the write to the first byte
    uint32_t byte_ms = 0;          // between consecutive bytes
    std::size_t stop_after = std::numeric_limits<std::size_t>::max();  // only the first n bytes ever come
    std::size_t gap_after = std::numeric_limits<std::size_t>::max();   // after n bytes, a pause of gap_ms
    uint32_t gap_ms = 0;
    uint32_t written = std::numeric_limits<uint32_t>::max();  // count the write reports (short write)
    bool gone = false;             // the device vanishes at this write (nothing goes out)
};

Frame Bytes(std::string_view text);
ReplyScript Ack(uint32_t delay_ms = 0);                     // "@00BOK.000\r"
ReplyScript Nak(uint8_t status, uint32_t delay_ms = 0);     // "@00BNG", status, "000\r"
ReplyScript Reply(std::string_view text, uint32_t delay_ms = 0);
ReplyScript NoReply();
ReplyScript ShortWrite(uint32_t written);                   // the write reports `written` bytes, no reply
ReplyScript GoneAtWrite();                                  // the device vanishes at this write

class ScriptedPort final : public SerialPort {
public:
    static constexpr uint32_t kReadTimeoutMs = kPortTimeouts.ReadTotalMs(1);

    explicit ScriptedPort(int com_number = 1);

    // --- script ---
    std::deque<ReplyScript> replies;  // consumed one per write
    std::function<Frame(const Frame& frame)> responder;  // answers writes without a script
    uint32_t responder_delay_ms = 0;
    uint32_t responder_byte_ms = 0;
    // When set, the delay of the responder's reply to `frame`, instead of responder_delay_ms:
    // a box whose latency differs per command.
    std::function<uint32_t(const Frame& frame)> responder_latency;
    bool network = false;             // plays a port on a network serial server
    int open_failures = 0;            // the next n Open() calls fail
    bool fail_open = false;           // every Open() fails
    bool fail_read_settings = false;
    bool fail_apply_settings = false;
    bool fail_purge = false;
    bool fail_clear_error = false;
    uint32_t error_word = 0;          // reported (and cleared) by the next ClearError
    uint32_t write_limit = std::numeric_limits<uint32_t>::max();  // every write reports at most this
    void Vanish();                    // the device is gone until it is opened again
    void VanishWhileIdle();           // the same, told to the gone handler as a real port does
    void Deliver(const Frame& bytes, uint32_t delay_ms = 0);  // bytes not drawn by a write

    // --- what happened ---
    std::vector<Frame> frames;        // every frame written (what went out)
    std::vector<uint32_t> write_ticks;
    int open_calls = 0;
    int read_settings_calls = 0;
    int apply_settings_calls = 0;
    int apply_timeouts_calls = 0;
    int purge_calls = 0;
    int close_calls = 0;
    int failed_writes = 0;            // writes to a port that was closed or gone
    bool made = false;                // handed to a link by InstallScriptedPorts' factory
    bool is_open = false;
    bool gone = false;
    std::string FrameText(std::size_t i) const;  // frames[i] as text
    std::size_t Queued() const;       // bytes that have arrived and wait to be read
    std::size_t InFlight() const;     // bytes still on their way

    // --- SerialPort ---
    bool Open() override;
    bool ReadLineSettings() override;
    bool ApplyLineSettings() override;
    bool ApplyTimeouts() override;
    bool IsUsable() const override { return is_open && !gone; }
    bool Purge() override;
    bool ClearError(uint32_t* errors, uint32_t* queued, uint32_t wait_ms) override;
    uint32_t Write(const uint8_t* data, uint32_t n) override;
    uint32_t ReadByte(uint8_t* byte) override;
    std::string DeviceName() const override;
    std::string ErrorText() const override { return error_text_; }
    void Close() override;
    bool IsNetworkPort() const override { return network; }

private:
    void Schedule(const ReplyScript& script);
    void Insert(uint32_t tick, uint8_t byte);
    std::size_t Arrived() const;

    int com_number_;
    std::string error_text_;
    std::deque<std::pair<uint32_t, uint8_t>> input_;  // arrival tick, byte; in arrival order
};

// The scripted ports of COM1..COM8 behind one link; valid while the link keeps this factory.
struct ScriptedPorts {
    std::array<ScriptedPort*, 9> com{};  // com[1]..com[8]
    ScriptedPort* operator[](int n) const { return com.at(static_cast<std::size_t>(n)); }
    operator ScriptedPort*() const { return com[1]; }  // NOLINT: COM1 for the common case
};

// Installs on `link` a factory that hands out eight ready-made scripted ports (each on the
// link's first open of that COM number) and returns them; they can be scripted at once.
ScriptedPorts InstallScriptedPorts(RS232c_bios& link);

}  // namespace dpx::test
