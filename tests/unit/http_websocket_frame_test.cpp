// A client's WebSocket frame read from the front of what its connection received: whole only
// with its last byte, unmasked as sent, and refused with its close code whatever breaks the
// protocol, as soon as the header shows it.
#include <gtest/gtest.h>

#include <string>

#include "api/WebSocketFrame.h"

namespace dpx::http {
namespace {

constexpr std::size_t kLimit = 1024;

// A frame as a client writes it: the first byte, then the length in `length_bytes` (0: in the
// second byte, 2 or 8: after 126 or 127), the mask and the masked payload.
std::string Frame(int first, const std::string& payload, bool masked = true, int length_bytes = -1) {
    std::string out(1, static_cast<char>(first));
    const char mask_bit = masked ? static_cast<char>(0x80) : 0;
    if (length_bytes < 0) length_bytes = payload.size() < 126 ? 0 : payload.size() <= 0xFFFF ? 2 : 8;
    if (length_bytes == 0) out += static_cast<char>(mask_bit | static_cast<char>(payload.size()));
    else out += static_cast<char>(mask_bit | (length_bytes == 2 ? 126 : 127));
    for (int i = length_bytes - 1; i >= 0; --i) out += static_cast<char>((payload.size() >> (8 * i)) & 0xFF);
    if (!masked) return out + payload;
    const std::string mask = "\x0A\x0B\x0C\x0D";
    out += mask;
    for (std::size_t i = 0; i < payload.size(); ++i) out += static_cast<char>(payload[i] ^ mask[i % 4]);
    return out;
}

TEST(WebSocketFrame, AWholeFrameIsUnmaskedAndOnlyWholeWithItsLastByte) {
    const struct {
        const char* what;
        std::string bytes;
        int opcode;
        bool final;
        std::string payload;
    } cases[] = {
        {"text", Frame(0x81, "hello"), 1, true, "hello"},
        {"an empty pong", Frame(0x8A, ""), 10, true, ""},
        {"a first fragment", Frame(0x02, "ab"), 2, false, "ab"},
        {"a 16-bit length", Frame(0x82, std::string(300, 'x')), 2, true, std::string(300, 'x')},
        {"a close with its code", Frame(0x88, "\x03\xE8"), 8, true, "\x03\xE8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ClientFrame frame = ReadClientFrame(c.bytes + "next", kLimit);
        ASSERT_EQ(frame.status, ClientFrame::kComplete) << frame.error;
        EXPECT_EQ(frame.opcode, c.opcode);
        EXPECT_EQ(frame.final, c.final);
        EXPECT_EQ(frame.payload, c.payload);
        EXPECT_EQ(frame.consumed, c.bytes.size());
        for (std::size_t n = 0; n < c.bytes.size(); ++n)
            ASSERT_EQ(ReadClientFrame(c.bytes.substr(0, n), kLimit).status, ClientFrame::kIncomplete) << n;
    }
}

TEST(WebSocketFrame, WhatBreaksTheProtocolIsRefusedFromItsHeader) {
    const struct {
        const char* what;
        std::string bytes;
        int close_code;
    } cases[] = {
        {"unmasked", Frame(0x81, "hello", false), kCloseProtocolError},
        {"a reserved bit", Frame(0xC1, "hello"), kCloseProtocolError},
        {"a reserved data opcode", Frame(0x83, ""), kCloseProtocolError},
        {"a reserved control opcode", Frame(0x8B, ""), kCloseProtocolError},
        {"a fragmented ping", Frame(0x09, ""), kCloseProtocolError},
        {"a control frame over 125 bytes", Frame(0x89, std::string(126, 'x')), kCloseProtocolError},
        {"a short length in 16 bits", Frame(0x81, "hi", true, 2), kCloseProtocolError},
        {"a 16-bit length in 64 bits", Frame(0x81, std::string(200, 'x'), true, 8), kCloseProtocolError},
        {"the highest bit of a 64-bit length", std::string("\x82\xFF\x80\0\0\0\0\0\0\0", 10), kCloseProtocolError},
        {"a payload over the limit", Frame(0x82, std::string(kLimit + 1, 'x')), kCloseTooBig},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Refused with no more than the header: the payload is never waited for.
        const std::size_t header = (static_cast<unsigned char>(c.bytes[1]) & 0x7F) == 126   ? 4
                                   : (static_cast<unsigned char>(c.bytes[1]) & 0x7F) == 127 ? 10
                                                                                             : 2;
        const ClientFrame frame = ReadClientFrame(c.bytes.substr(0, header), kLimit);
        EXPECT_EQ(frame.status, ClientFrame::kRefused);
        EXPECT_EQ(frame.close_code, c.close_code);
        EXPECT_FALSE(frame.error.empty());
    }
}

}  // namespace
}  // namespace dpx::http
