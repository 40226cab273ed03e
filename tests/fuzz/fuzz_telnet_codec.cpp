// The Telnet codec over bytes from a server. The first input byte chooses how the rest is cut
// into reads: fed at once or read by read, the codec gives the same data, the same answers and
// the same state. Data escaped for sending comes back unchanged from a fresh codec.
#include <algorithm>
#include <cstdint>
#include <random>

#include "telnet/TelnetCodec.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dpx;
using platform::TelnetCodec;

namespace {

bool SameState(const TelnetCodec& a, const TelnetCodec& b) {
    if (a.ComPort() != b.ComPort() || a.LineState() != b.LineState() || a.ModemState() != b.ModemState())
        return false;
    for (int command = 0; command < 256; ++command)
        if (a.Answer(static_cast<uint8_t>(command)) != b.Answer(static_cast<uint8_t>(command))) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::minstd_rand cuts(data[0]);
    const uint8_t* in = data + 1;
    const size_t n = size - 1;

    TelnetCodec whole;
    TelnetCodec::Bytes data_whole, answer_whole;
    whole.Feed(in, n, &data_whole, &answer_whole);
    TelnetCodec reads;
    TelnetCodec::Bytes data_reads, answer_reads;
    for (size_t at = 0, len; at < n; at += len) {
        len = std::min<size_t>(n - at, 1 + cuts() % 8);
        reads.Feed(in + at, len, &data_reads, &answer_reads);
    }
    fuzz::Check(data_whole == data_reads && answer_whole == answer_reads && SameState(whole, reads),
                "the same whether fed at once or read by read");
    fuzz::Check(data_whole.size() <= n, "no more data than bytes");
    fuzz::Check(answer_whole.size() % 3 == 0, "answers are whole three-byte commands");
    // Refusals, and the acceptance of the server's own COM-PORT-OPTION offer.
    for (size_t i = 0; i < answer_whole.size(); i += 3) {
        const uint8_t verb = answer_whole[i + 1], option = answer_whole[i + 2];
        fuzz::Check(answer_whole[i] == TelnetCodec::kIac &&
                        (verb == TelnetCodec::kDont || verb == TelnetCodec::kWont ||
                         (verb == TelnetCodec::kDo && option == TelnetCodec::kComPortOption)),
                    "only refusals and DO COM-PORT-OPTION are answered");
    }

    const TelnetCodec::Bytes escaped = TelnetCodec::EncodeData(in, n);
    TelnetCodec fresh;
    TelnetCodec::Bytes back, answer;
    fresh.Feed(escaped.data(), escaped.size(), &back, &answer);
    fuzz::Check(back == TelnetCodec::Bytes(in, in + n) && answer.empty(), "escaped data comes back");
    return 0;
}
