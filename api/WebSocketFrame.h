#pragma once
// One frame that a client sent over a WebSocket, read from the front of the bytes its
// connection received; Qt-free so that it is fuzzed. A client must mask every frame, and this
// server negotiates no extension: an unmasked frame, a reserved bit or opcode, a control frame
// that is fragmented or longer than 125 bytes, or a length not written in its shortest form
// fails the connection with 1002 (protocol error); a payload over the limit with 1009.
#include <cstddef>
#include <string>
#include <string_view>

namespace dpx::http {

struct ClientFrame {
    enum Status { kIncomplete, kComplete, kRefused } status = kIncomplete;
    int opcode = 0;            // kComplete: 0 continuation, 1 text, 2 binary, 8 close, 9 ping, 10 pong
    bool final = true;         // the last frame of its message
    std::string payload;       // unmasked
    std::size_t consumed = 0;  // kComplete: the frame's bytes, from the front
    int close_code = 0;        // kRefused: the WebSocket close code to end the connection with, and why
    std::string error;
};

inline constexpr int kCloseProtocolError = 1002;
inline constexpr int kCloseTooBig = 1009;

// Reads the frame at the front of `bytes`; a payload longer than `payload_limit` is refused as
// soon as the header says so.
ClientFrame ReadClientFrame(std::string_view bytes, std::size_t payload_limit);

// A frame from the server (unmasked, whole): `opcode` with `payload` of at most 125 bytes.
std::string ServerControlFrame(int opcode, std::string_view payload);

}  // namespace dpx::http
