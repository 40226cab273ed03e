// Reply classification over a zero-filled 16-byte buffer holding up to 16 input bytes.
#include <cstdint>
#include <cstring>

#include "model/CommandTable.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dpx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t reply[kReplyBufferSize] = {};
    std::memcpy(reply, data, size < sizeof reply ? size : sizeof reply);
    const int result = ClassifyReply(reply);
    fuzz::Check(result >= kResultOk && result <= kResultUndefined, "result 0..4");
    const bool ack = std::memcmp(reply, kAckFrame, kFrameSize) == 0;
    fuzz::Check((result == kResultOk) == ack, "0 exactly for the ACK frame");
    if (!ack && std::memcmp(reply, kNakPrefix, 6) == 0 && reply[6] <= 2)
        fuzz::Check(result == reply[6] + 1, "NAK status 0-2 gives 1-3");
    return 0;
}
