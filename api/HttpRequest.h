#pragma once
// One HTTP/1.x request read from the front of the bytes a connection received, Qt-free so
// that it is fuzzed. Strict where leniency lets two readers disagree about where a request
// ends (request smuggling): a Content-Length beside a Transfer-Encoding, two different
// Content-Lengths, a folded header line, a header name with blanks before its colon are all
// refused; only the "chunked" transfer coding is taken.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dpx::http {

struct HttpRequest {
    std::string method;  // "GET", "PUT", ...
    std::string target;  // as sent: "/api/v1/state?x=1"
    std::string path;    // the target without its query
    int minor_version = 1;  // HTTP/1.<minor_version>
    std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
    std::string body;      // de-chunked
    bool keep_alive = true;  // HTTP/1.1 without "Connection: close"; HTTP/1.0 never
    bool upgrade = false;    // "Connection: upgrade" with "Upgrade: websocket"

    // The value of the first header `name` (lower case), or empty.
    std::string Header(std::string_view name) const;
};

struct ParseResult {
    enum Status { kIncomplete, kComplete, kRefused } status = kIncomplete;
    std::size_t consumed = 0;  // kComplete: the bytes of the request, from the front
    bool awaits_continue = false;  // kIncomplete: the head asked "Expect: 100-continue" and the body is due
    int refusal = 0;           // kRefused: the HTTP status to answer with, and why
    std::string error;
    HttpRequest request;       // kComplete
};

// Reads the request at the front of `bytes`. A head (request line and headers) longer than
// `head_limit` is refused with 431, a body longer than `body_limit` with 413 (as soon as the
// head says so), what is not HTTP/1.x with 400 or 505, a transfer coding other than chunked
// with 501, an HTTP/1.1 request without one Host header with 400. Empty lines before the
// request line are skipped; lines may end in CRLF or LF.
ParseResult ParseRequest(std::string_view bytes, std::size_t head_limit, std::size_t body_limit);

}  // namespace dpx::http
