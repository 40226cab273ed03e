#include "api/WebSocketFrame.h"

#include <cstdint>

namespace dpx::http {
namespace {

ClientFrame Refused(int code, std::string error) {
    ClientFrame frame;
    frame.status = ClientFrame::kRefused;
    frame.close_code = code;
    frame.error = std::move(error);
    return frame;
}

}  // namespace

ClientFrame ReadClientFrame(std::string_view bytes, std::size_t payload_limit) {
    if (bytes.size() < 2) return {};
    const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(bytes[i]); };
    const int opcode = byte(0) & 0x0F;
    const bool final = (byte(0) & 0x80) != 0;
    if ((byte(0) & 0x70) != 0) return Refused(kCloseProtocolError, "a reserved bit is set: no extension was agreed");
    if ((opcode > 2 && opcode < 8) || opcode > 10) return Refused(kCloseProtocolError, "a reserved opcode");
    if ((byte(1) & 0x80) == 0) return Refused(kCloseProtocolError, "a client's frames must be masked");
    const bool control = opcode >= 8;
    uint64_t length = byte(1) & 0x7F;
    if (control && (!final || length > 125))
        return Refused(kCloseProtocolError, "a control frame is whole and at most 125 bytes");
    std::size_t at = 2;
    if (length >= 126) {
        const std::size_t size = length == 126 ? 2 : 8;
        if (bytes.size() < at + size) return {};
        length = 0;
        for (std::size_t i = 0; i < size; ++i) length = length << 8 | byte(at + i);
        at += size;
        if ((size == 2 && length < 126) || (size == 8 && length <= 0xFFFF) || (length >> 63) != 0)
            return Refused(kCloseProtocolError, "a length not written in its shortest form");
    }
    if (length > payload_limit) return Refused(kCloseTooBig, "a frame over " + std::to_string(payload_limit) + " bytes");
    if (bytes.size() - at < 4 + length) return {};
    const std::string_view mask = bytes.substr(at, 4);
    ClientFrame frame;
    frame.status = ClientFrame::kComplete;
    frame.opcode = opcode;
    frame.final = final;
    frame.payload.assign(bytes.substr(at + 4, static_cast<std::size_t>(length)));
    for (std::size_t i = 0; i < frame.payload.size(); ++i) frame.payload[i] = static_cast<char>(frame.payload[i] ^ mask[i % 4]);
    frame.consumed = at + 4 + static_cast<std::size_t>(length);
    return frame;
}

std::string ServerControlFrame(int opcode, std::string_view payload) {
    std::string frame;
    frame += static_cast<char>(0x80 | (opcode & 0x0F));
    frame += static_cast<char>(payload.size() > 125 ? 125 : payload.size());
    frame += payload.substr(0, 125);
    return frame;
}

}  // namespace dpx::http
