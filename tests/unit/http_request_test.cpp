// The control API's HTTP request reader: where a request ends (the next one of a pipelined
// write is left alone), what is refused with which status, and which connection stays open.
#include <gtest/gtest.h>

#include <string>

#include "api/HttpRequest.h"

namespace dpx::http {
namespace {

constexpr std::size_t kHead = 256;
constexpr std::size_t kBody = 16;

TEST(HttpRequest, EndsWhereItsBytesEndAndRefusesWhatTwoReadersCouldSplitDifferently) {
    const std::string get = "GET /api/v1/state?x=1 HTTP/1.1\r\nHost: a\r\n\r\n";
    const std::string put = "PUT /s HTTP/1.1\r\nHost: a\r\nContent-Length: 2\r\n\r\n{}";
    const std::string chunked = "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n2;e=1\r\nab\r\n1\r\nc\r\n0\r\nT: 1\r\n\r\n";
    const std::string tls_hello("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11);
    struct Case {
        std::string bytes;
        ParseResult::Status status;
        std::size_t consumed_or_refusal;  // kComplete: bytes read; kRefused: the status
        std::string body;
        bool keep_alive = true;
    };
    const Case cases[] = {
        {get + put, ParseResult::kComplete, get.size(), "", true},
        {put + get, ParseResult::kComplete, put.size(), "{}", true},
        {put.substr(0, put.size() - 1), ParseResult::kIncomplete, 0, ""},
        {"\r\n" + get, ParseResult::kComplete, get.size() + 2, ""},
        {"GET / HTTP/1.0\n\n", ParseResult::kComplete, 16, "", false},
        {"GET / HTTP/1.1\r\nHost: a\r\nConnection: keep-alive, Close\r\n\r\n", ParseResult::kComplete, 58, "", false},
        {chunked + "GET", ParseResult::kComplete, chunked.size(), "abc"},
        {"POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n", ParseResult::kIncomplete, 0, ""},
        {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n", ParseResult::kRefused, 400, ""},
        {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n", ParseResult::kRefused, 400, ""},
        {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: -3\r\n\r\n", ParseResult::kRefused, 400, ""},
        {"POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: gzip\r\n\r\n", ParseResult::kRefused, 501, ""},
        {"POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n", ParseResult::kRefused, 400, ""},
        {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: " + std::to_string(kBody + 1) + "\r\n\r\n", ParseResult::kRefused, 413, ""},
        {"POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n11\r\n", ParseResult::kRefused, 413, ""},
        {"GET / HTTP/1.1\r\nHost: a\r\nX: " + std::string(kHead, 'x'), ParseResult::kRefused, 431, ""},
        {"GET / HTTP/1.1\r\nHost: a\r\nX: a\r\n b\r\n\r\n", ParseResult::kRefused, 400, ""},
        {"GET / HTTP/1.1\r\nHost: a\r\nX : a\r\n\r\n", ParseResult::kRefused, 400, ""},
        {"GET / HTTP/2.0\r\n\r\n", ParseResult::kRefused, 505, ""},
        {"GET  / HTTP/1.1\r\nHost: a\r\n\r\n", ParseResult::kRefused, 400, ""},
        {tls_hello, ParseResult::kRefused, 400, ""},
        {"GE", ParseResult::kIncomplete, 0, ""},
        // One Host names the server an HTTP/1.1 request is for; HTTP/1.0 may leave it out.
        {"GET / HTTP/1.1\r\n\r\n", ParseResult::kRefused, 400, ""},
        {"GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", ParseResult::kRefused, 400, ""},
        {"GET / HTTP/1.0\r\nHost: a\r\nHost: a\r\n\r\n", ParseResult::kRefused, 400, ""},
    };
    for (const Case& c : cases) {
        const ParseResult r = ParseRequest(c.bytes, kHead, kBody);
        ASSERT_EQ(r.status, c.status) << c.bytes << ": " << r.error;
        if (r.status == ParseResult::kRefused) {
            EXPECT_EQ(r.refusal, static_cast<int>(c.consumed_or_refusal)) << c.bytes << ": " << r.error;
            EXPECT_FALSE(r.error.empty());
        } else if (r.status == ParseResult::kComplete) {
            EXPECT_EQ(r.consumed, c.consumed_or_refusal) << c.bytes;
            EXPECT_EQ(r.request.body, c.body) << c.bytes;
            EXPECT_EQ(r.request.keep_alive, c.keep_alive) << c.bytes;
        }
    }
    const ParseResult upgrade = ParseRequest("GET /e HTTP/1.1\r\nHost: a\r\nConnection: Upgrade\r\nUpgrade: WebSocket\r\n\r\n", kHead, kBody);
    EXPECT_TRUE(upgrade.request.upgrade);
    EXPECT_EQ(ParseRequest(get, kHead, kBody).request.path, "/api/v1/state");
    // Leave to send the body is asked for once: while only the head has come.
    const std::string expect = "PUT /s HTTP/1.1\r\nHost: a\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n";
    EXPECT_TRUE(ParseRequest(expect, kHead, kBody).awaits_continue);
    EXPECT_FALSE(ParseRequest(expect + "{", kHead, kBody).awaits_continue);
}

}  // namespace
}  // namespace dpx::http
