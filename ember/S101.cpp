#include "ember/S101.h"

#include <array>

namespace dpx::ember {
namespace {

constexpr uint8_t kBof = 0xFE;
constexpr uint8_t kEof = 0xFF;
constexpr uint8_t kCe = 0xFD;
constexpr uint8_t kXor = 0x20;
constexpr uint8_t kInvalid = 0xF8;  // this byte and those above are escaped
constexpr uint8_t kSlot = 0x00;
constexpr uint8_t kMessageEmber = 0x0E;
constexpr uint8_t kCommandEmber = 0x00;
constexpr uint8_t kCommandKeepAliveRequest = 0x01;
constexpr uint8_t kCommandKeepAliveResponse = 0x02;
constexpr uint8_t kVersion = 0x01;
constexpr uint8_t kFlagFirst = 0x80;
constexpr uint8_t kFlagLast = 0x40;
constexpr uint8_t kFlagEmpty = 0x20;
constexpr uint8_t kDtdGlow = 0x01;
// The Glow version the messages follow, minor then major (2.31).
constexpr uint8_t kGlowMinor = 0x1F;
constexpr uint8_t kGlowMajor = 0x02;
constexpr uint16_t kGoodCrc = 0xF0B8;  // the CRC over a frame and its own CRC

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t c = static_cast<uint16_t>(i);
        for (int k = 0; k < 8; ++k) c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0x8408) : static_cast<uint16_t>(c >> 1);
        table[i] = c;
    }
    return table;
}
constexpr std::array<uint16_t, 256> kCrcTable = MakeTable();

void Escaped(std::string& out, uint8_t b) {
    if (b < kInvalid) {
        out.push_back(static_cast<char>(b));
    } else {
        out.push_back(static_cast<char>(kCe));
        out.push_back(static_cast<char>(b ^ kXor));
    }
}

// BOF, `body` escaped, its CRC escaped, EOF.
std::string Frame(std::string_view body) {
    std::string out(1, static_cast<char>(kBof));
    for (char c : body) Escaped(out, static_cast<uint8_t>(c));
    const uint16_t crc = static_cast<uint16_t>(~Crc(body));
    Escaped(out, crc & 0xFF);
    Escaped(out, crc >> 8);
    out.push_back(static_cast<char>(kEof));
    return out;
}

std::string Header(uint8_t command) {
    return {static_cast<char>(kSlot), static_cast<char>(kMessageEmber), static_cast<char>(command), static_cast<char>(kVersion)};
}

}  // namespace

uint16_t Crc(std::string_view bytes, uint16_t crc) {
    for (char c : bytes) crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ static_cast<uint8_t>(c)) & 0xFF]);
    return crc;
}

std::string EncodeMessage(std::string_view glow) {
    std::string out;
    std::size_t pos = 0;
    do {
        const std::string_view piece = glow.substr(pos, kFramePayload);
        uint8_t flags = 0;
        if (pos == 0) flags |= kFlagFirst;
        if (pos + piece.size() >= glow.size()) flags |= kFlagLast;
        if (glow.empty()) flags |= kFlagEmpty;
        std::string body = Header(kCommandEmber);
        body += {static_cast<char>(flags), static_cast<char>(kDtdGlow), 2, static_cast<char>(kGlowMinor), static_cast<char>(kGlowMajor)};
        body += piece;
        out += Frame(body);
        pos += piece.size();
    } while (pos < glow.size());
    return out;
}

std::string KeepAliveRequest() { return Frame(Header(kCommandKeepAliveRequest)); }
std::string KeepAliveResponse() { return Frame(Header(kCommandKeepAliveResponse)); }

bool S101Decoder::Fail(std::string why) {
    if (error_.empty()) error_ = std::move(why);
    return false;
}

bool S101Decoder::Feed(std::string_view bytes, std::vector<Item>* items) {
    if (!error_.empty()) return false;
    for (char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        if (b == kBof) {
            if (in_frame_) return Fail("a frame began inside another");
            in_frame_ = true;
            escaped_ = false;
            frame_.clear();
        } else if (!in_frame_) {
            return Fail("bytes outside a frame");
        } else if (b == kEof) {
            in_frame_ = false;
            if (escaped_) return Fail("a frame ended inside an escape");
            if (!Frame(items)) return false;
        } else if (escaped_) {
            escaped_ = false;
            frame_.push_back(static_cast<char>(b ^ kXor));
        } else if (b == kCe) {
            escaped_ = true;
        } else if (b >= kInvalid) {
            return Fail("an unescaped byte 0xF8 or above inside a frame");
        } else {
            frame_.push_back(c);
        }
        if (frame_.size() > limits_.frame) return Fail("a frame over " + std::to_string(limits_.frame) + " bytes");
    }
    return true;
}

bool S101Decoder::Frame(std::vector<Item>* items) {
    if (frame_.size() < 6 || Crc(frame_) != kGoodCrc) return Fail("a frame whose CRC does not match");
    const std::string_view body = std::string_view(frame_).substr(0, frame_.size() - 2);
    if (static_cast<uint8_t>(body[0]) != kSlot || static_cast<uint8_t>(body[1]) != kMessageEmber)
        return Fail("a frame that is no Ember message");
    const auto command = static_cast<uint8_t>(body[2]);
    if (command == kCommandKeepAliveRequest) {
        items->push_back({Item::Kind::kKeepAliveRequest, {}});
        return true;
    }
    if (command == kCommandKeepAliveResponse) {
        items->push_back({Item::Kind::kKeepAliveResponse, {}});
        return true;
    }
    if (command != kCommandEmber || body.size() < 7) return Fail("a frame with an unknown command");
    const auto flags = static_cast<uint8_t>(body[4]);
    const auto dtd = static_cast<uint8_t>(body[5]);
    const auto app_bytes = static_cast<uint8_t>(body[6]);
    if (dtd != kDtdGlow) return Fail("a frame of another DTD than Glow");
    if (body.size() < 7u + app_bytes) return Fail("a frame shorter than its application bytes");
    const std::string_view piece = body.substr(7 + app_bytes);
    if (flags & kFlagFirst) {
        message_.clear();
        collecting_ = true;
    } else if (!collecting_) {
        return Fail("a message's frame without its first one");
    }
    if ((flags & kFlagEmpty) == 0) message_ += piece;
    if (message_.size() > limits_.message) return Fail("a message over " + std::to_string(limits_.message) + " bytes");
    if (flags & kFlagLast) {
        collecting_ = false;
        items->push_back({Item::Kind::kMessage, std::move(message_)});
        message_.clear();
    }
    return true;
}

}  // namespace dpx::ember
