#pragma once
// The serial port as the link needs it. The platform layer implements it over Qt Serial
// Port and over TCP to a network serial server; unit tests use a scripted fake. One object
// stands for one COM number's device.
#include <cstdint>
#include <memory>
#include <functional>
#include <string>
#include <utility>

namespace dpx {

// The time-outs of every port: read interval 20 ms, read total 10 ms per byte + 300 ms,
// write total 10 ms per byte + 20 ms. The link reads one byte at a time, so the interval never
// ends a read.
struct PortTimeouts {
    uint32_t read_interval_ms = 20;
    uint32_t read_per_byte_ms = 10;
    uint32_t read_constant_ms = 300;
    uint32_t write_per_byte_ms = 10;
    uint32_t write_constant_ms = 20;

    // The longest a read or a write of n bytes may take.
    constexpr uint32_t ReadTotalMs(uint32_t n) const { return read_per_byte_ms * n + read_constant_ms; }
    constexpr uint32_t WriteTotalMs(uint32_t n) const { return write_per_byte_ms * n + write_constant_ms; }
};
inline constexpr PortTimeouts kPortTimeouts{};

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the device for reading and writing, exclusively. False when the device is
    // missing, busy or forbidden; ErrorText() then says why. The link calls it again on the
    // same object after a failed open or after the device went gone; it then starts afresh.
    virtual bool Open() = 0;
    // Reads the port's current line settings (false: they cannot be read). A port that keeps
    // them itself only needs to be usable.
    virtual bool ReadLineSettings() { return IsUsable(); }
    // Applies 9600 baud, 8 data bits, odd parity, 1 stop bit, no flow control, DTR on.
    virtual bool ApplyLineSettings() = 0;
    // Applies the time-outs (kPortTimeouts). The ports bound every wait by kPortTimeouts
    // themselves, so they only need to be usable. The link ignores the result.
    virtual bool ApplyTimeouts() { return IsUsable(); }
    // True while the device is open and has not reported that it is gone.
    virtual bool IsUsable() const = 0;

    // Discards everything in both directions.
    virtual bool Purge() = 0;
    // Reads and clears the error state. `errors` gets the error word, `queued` the number
    // of bytes waiting. When the queue is empty, waits up to `wait_ms` for a byte first
    // (0: do not wait). False when the state cannot be read.
    virtual bool ClearError(uint32_t* errors, uint32_t* queued, uint32_t wait_ms) = 0;
    // Writes n bytes; returns how many went out.
    virtual uint32_t Write(const uint8_t* data, uint32_t n) = 0;
    // Reads one byte within the port's read time-outs; returns the count read (0 or 1).
    virtual uint32_t ReadByte(uint8_t* byte) = 0;

    // The device this port opens (for example "/dev/ttyUSB0" or "COM3").
    virtual std::string DeviceName() const = 0;
    // The reason of the last failure, for tool tips and tools; empty if none.
    virtual std::string ErrorText() const = 0;

    // Gives the device up; the next Open() starts afresh.
    virtual void Close() = 0;
    // True for a port on a network serial server. The link closes such a port whenever it is
    // not logged in, so that a server that takes one client at a time is free for others; a
    // local device stays open until the program ends.
    virtual bool IsNetworkPort() const { return false; }

    // Where the port tells what it agreed with a server and what the server said (the link
    // puts it into its frame trace). Ports without a protocol of their own say nothing.
    using NoteSink = std::function<void(const std::string& text)>;
    void SetNoteSink(NoteSink sink) { note_sink_ = std::move(sink); }

    // Told when the port finds by itself, between the link's calls, that its device went
    // away (a USB adapter pulled out, the server closed the connection). The port has then
    // closed itself: IsUsable() is false and ErrorText() says why. It is called from the
    // toolkit's event loop, never from inside one of the calls above; a failure that one
    // of those calls meets is only reported by its result.
    using GoneHandler = std::function<void()>;
    void SetGoneHandler(GoneHandler handler) { gone_handler_ = std::move(handler); }

protected:
    void Note(const std::string& text) const {
        if (note_sink_) note_sink_(text);
    }
    void ReportGone() const {
        if (gone_handler_) gone_handler_();
    }

private:
    NoteSink note_sink_;
    GoneHandler gone_handler_;
};

// Makes the port object of COM number n (1-8). The object is opened later by the link.
using PortFactory = std::function<std::unique_ptr<SerialPort>(int com_number)>;
// The device name COM number n means now; lets the link notice a changed map.
using PortNamer = std::function<std::string(int com_number)>;

}  // namespace dpx
