#pragma once
// S101, the framing of Ember+ on a byte stream: each frame starts with BOF (0xFE) and ends with
// EOF (0xFF); a byte of 0xF8 or above inside it is sent as CE (0xFD) and the byte XOR 0x20; the
// frame ends with the CRC-CCITT (reflected, initial 0xFFFF, complemented) of its unescaped
// bytes, low byte first. A frame carries a slot, the message type (0x0E: Ember), a command (0:
// an Ember packet, 1 and 2: keep-alive request and response) and the version (1); an Ember
// packet then its flags (first, last, empty), the DTD (1: Glow), the application bytes (the
// Glow version) and a piece of the message, which may span several frames.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dpx::ember {

// The CRC of `bytes`, before it is complemented.
uint16_t Crc(std::string_view bytes, uint16_t crc = 0xFFFF);

// The bytes of one Glow message: as many frames as it needs, each with at most
// kFramePayload bytes of the message.
inline constexpr std::size_t kFramePayload = 1024;
std::string EncodeMessage(std::string_view glow);
std::string KeepAliveRequest();
std::string KeepAliveResponse();

// Reads a stream of frames and puts them back into messages. Anything that is not a frame of
// an Ember message, a frame or message over its limit, or a frame whose CRC does not match is
// an error: the stream is then no longer read (the connection is closed).
class S101Decoder {
public:
    struct Limits {
        std::size_t frame = 4 * 1024;     // unescaped bytes of one frame
        std::size_t message = 64 * 1024;  // bytes of one message, over all its frames
    };
    struct Item {
        enum class Kind { kMessage, kKeepAliveRequest, kKeepAliveResponse } kind;
        std::string message;  // kMessage: the Glow bytes
    };

    S101Decoder() = default;
    explicit S101Decoder(Limits limits) : limits_(limits) {}
    // Reads `bytes`; each whole item goes to `items`. False, with Error(), once the stream is
    // broken; nothing is read after that.
    bool Feed(std::string_view bytes, std::vector<Item>* items);
    const std::string& Error() const { return error_; }

private:
    bool Fail(std::string why);
    bool Frame(std::vector<Item>* items);

    Limits limits_;
    std::string frame_;
    bool in_frame_ = false;
    bool escaped_ = false;
    std::string message_;
    bool collecting_ = false;  // a message's first frame came, its last not yet
    std::string error_;
};

}  // namespace dpx::ember
