#include "link/FrameTrace.h"

#include <chrono>
#include <ctime>

#include "common/Format.h"
#include "model/CommandTable.h"

namespace dpx {
namespace {

// "21 30 30 ... 0D |!00B....|": every byte in hex, then the bytes with '.' for those that
// are not printable ASCII.
std::string Bytes(const std::string& bytes) {
    std::string hex, ascii;
    for (unsigned char c : bytes) {
        hex += Format("%02X ", c);
        ascii += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
    }
    return hex + "|" + ascii + "|";
}

}  // namespace

int64_t FrameTrace::WallMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string FrameTrace::IsoTime(int64_t wall_ms) {
    const auto seconds = static_cast<std::time_t>(wall_ms / 1000);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return Format("%s.%03dZ", text, static_cast<int>(wall_ms % 1000));
}

const char* LinkResultMeaning(int result) {
    switch (result) {
        case kResultOk: return "ACK";
        case kResultUnknownCommand: return "NAK unknown command";
        case kResultParameterError: return "NAK parameter error";
        case kResultInvalidNow: return "NAK invalid now";
        case kResultUndefined: return "neither ACK nor a known NAK";
        case kResultTimeout: return "no answer within 100 ms";
        case kResultNotSent: return "not sent";
        case kResultOutOfStep: return "replies out of step: a reply came that no frame was owed";
        default: return "unknown result";
    }
}

void FrameTrace::Send(uint32_t tick, const std::string& device, const uint8_t* bytes, std::size_t n) {
    if (!enabled_) return;
    Add({WallMs(), tick, Kind::kSend, device, std::string(reinterpret_cast<const char*>(bytes), n), -1, {}});
}

void FrameTrace::Reply(uint32_t tick, const std::string& device, const uint8_t* bytes, std::size_t n, int result) {
    if (!enabled_) return;
    Add({WallMs(), tick, result == kResultTimeout ? Kind::kTimeout : Kind::kReply, device,
         std::string(reinterpret_cast<const char*>(bytes), n), result, {}});
}

void FrameTrace::Late(uint32_t tick, const std::string& device, const std::string& bytes) {
    if (!enabled_) return;
    Add({WallMs(), tick, Kind::kLate, device, bytes, -1, {}});
}

void FrameTrace::NotSent(uint32_t tick, const std::string& device, const uint8_t* bytes, std::size_t n,
                         std::string why) {
    if (!enabled_) return;
    Add({WallMs(), tick, Kind::kNotSent, device, std::string(reinterpret_cast<const char*>(bytes), n), -1,
         std::move(why)});
}

void FrameTrace::Event(uint32_t tick, const std::string& device, std::string text, int result) {
    if (!enabled_) return;
    Add({WallMs(), tick, Kind::kEvent, device, {}, result, std::move(text)});
}

void FrameTrace::Add(Entry entry) {
    if (stream_) {
        const std::string line = Line(entry) + "\n";
        std::fwrite(line.data(), 1, line.size(), stream_);
        std::fflush(stream_);
    }
    if (entries_.size() == kCapacity) entries_.pop_front();
    entries_.push_back(std::move(entry));
}

std::string FrameTrace::Text() const {
    std::string text;
    for (const Entry& e : entries_) text += Line(e) + "\n";
    return text;
}

std::string FrameTrace::Line(const Entry& e) {
    std::string line = IsoTime(e.wall_ms) + Format(" %u ", e.tick) + e.device;
    switch (e.kind) {
        case Kind::kSend: line += " send " + Bytes(e.bytes); break;
        case Kind::kReply: line += " recv " + Bytes(e.bytes); break;
        case Kind::kTimeout:
            line += e.bytes.empty() ? std::string(" recv none") : " recv " + Bytes(e.bytes);
            break;
        case Kind::kLate: line += " late " + Bytes(e.bytes) + " dropped (the reply to an earlier frame)"; break;
        case Kind::kNotSent: line += " not sent " + Bytes(e.bytes) + " (" + e.text + ")"; break;
        case Kind::kEvent: line += " " + e.text; break;
    }
    if (e.result >= 0) line += Format(" result %d (%s)", e.result, LinkResultMeaning(e.result));
    return line;
}

}  // namespace dpx
