#pragma once
// The frame trace: what went over the line, for support. Every frame written, every reply
// read or timed out, late replies dropped, the login and logoff, port opens, resends and what
// a network port agreed with its server. The last kCapacity entries are kept in memory; a
// caller may also stream each entry, as it is recorded, to a file. Entries are kept raw and
// turned into text only when read or streamed.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace dpx {

// What a link result code means, for traces and tools ("ACK", "NAK invalid now", ...).
const char* LinkResultMeaning(int result);

class FrameTrace {
public:
    static constexpr std::size_t kCapacity = 2000;

    enum class Kind { kSend, kReply, kTimeout, kLate, kNotSent, kEvent };
    struct Entry {
        int64_t wall_ms = 0;  // milliseconds since 1970-01-01 UTC
        uint32_t tick = 0;
        Kind kind = Kind::kEvent;
        std::string device;
        std::string bytes;    // the frame or the reply bytes (kSend, kReply, kTimeout, kLate, kNotSent)
        int result = -1;      // link result of a reply or time-out, or of a login/logoff
        std::string text;     // kEvent: what happened; kNotSent: why not
    };

    // Recording can be switched off (benchmarks compare both); it is on by default.
    void SetEnabled(bool on) { enabled_ = on; }
    // Each new entry is also written to `out` as one line and flushed (nullptr: none).
    // The caller keeps the file open while it is set.
    void SetStream(std::FILE* out) { stream_ = out; }

    void Send(uint32_t tick, const std::string& device, const uint8_t* bytes, std::size_t n);
    void Reply(uint32_t tick, const std::string& device, const uint8_t* bytes, std::size_t n, int result);
    // A late reply to an earlier frame, read and dropped before the next frame went out.
    void Late(uint32_t tick, const std::string& device, const std::string& bytes);
    // A frame that did not go out (or not whole), and why.
    void NotSent(uint32_t tick, const std::string& device, const uint8_t* bytes, std::size_t n, std::string why);
    void Event(uint32_t tick, const std::string& device, std::string text, int result = -1);

    const std::deque<Entry>& Entries() const { return entries_; }
    // Every kept entry as a line, oldest first, each ending in "\n".
    std::string Text() const;
    // One entry as a line without its newline:
    // "2026-12-09T17:04:08.123Z 1234567 /dev/ttyUSB0 send 21 30 ... 0D |!00BINPUT0.|"
    static std::string Line(const Entry& entry);
    // Milliseconds since 1970-01-01 UTC now, and such a time as "2026-12-09T17:04:08.123Z".
    static int64_t WallMs();
    static std::string IsoTime(int64_t wall_ms);

private:
    void Add(Entry entry);

    bool enabled_ = true;
    std::FILE* stream_ = nullptr;
    std::deque<Entry> entries_;
};

}  // namespace dpx
