// A client's WebSocket frame reader: whatever the bytes, a frame is whole only with its last
// byte, lies within the bytes given, keeps its payload within the limit, and a refusal carries
// its close code.
#include <cstdint>
#include <string>

#include "api/WebSocketFrame.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dpx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr std::size_t kLimit = 256;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const http::ClientFrame f = http::ReadClientFrame(bytes, kLimit);
    if (f.status == http::ClientFrame::kRefused)
        fuzz::Check((f.close_code == http::kCloseProtocolError || f.close_code == http::kCloseTooBig) && !f.error.empty(),
                    "a refusal has its close code and a reason");
    if (f.status != http::ClientFrame::kComplete) return 0;
    fuzz::Check(f.consumed >= 6 && f.consumed <= size, "a frame lies within the bytes given");
    fuzz::Check(f.payload.size() <= kLimit, "the payload keeps within its limit");
    fuzz::Check(http::ReadClientFrame(bytes.substr(0, f.consumed - 1), kLimit).status == http::ClientFrame::kIncomplete,
                "no frame is whole before its last byte");
    return 0;
}
