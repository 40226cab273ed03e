// The control API's HTTP request reader: whatever the bytes, a request is complete only once
// all of its bytes have come (a request one byte shorter is still incomplete), it never reads
// past the bytes given, and its body keeps within the limit.
#include <cstdint>
#include <string>

#include "api/HttpRequest.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dpx;

namespace {
constexpr std::size_t kHead = 512;
constexpr std::size_t kBody = 256;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const http::ParseResult r = http::ParseRequest(bytes, kHead, kBody);
    if (r.status == http::ParseResult::kRefused)
        fuzz::Check(r.refusal >= 400 && r.refusal < 600 && !r.error.empty(), "a refusal has a status and a reason");
    if (r.status != http::ParseResult::kComplete) return 0;
    fuzz::Check(r.consumed > 0 && r.consumed <= size, "a request lies within the bytes given");
    fuzz::Check(r.request.body.size() <= kBody, "the body keeps within its limit");
    fuzz::Check(!r.request.path.empty() && r.request.path.front() == '/', "the path starts with /");
    const http::ParseResult shorter = http::ParseRequest(bytes.substr(0, r.consumed - 1), kHead, kBody);
    fuzz::Check(shorter.status != http::ParseResult::kComplete, "no request is complete before its last byte");
    const http::ParseResult alone = http::ParseRequest(bytes.substr(0, r.consumed), kHead, kBody);
    fuzz::Check(alone.status == http::ParseResult::kComplete && alone.consumed == r.consumed &&
                    alone.request.body == r.request.body,
                "a request reads the same without what follows it");
    return 0;
}
