#include "api/HttpRequest.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace dpx::http {
namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The characters of a method or header name (RFC 9110 "token").
bool TokenChars(std::string_view text) {
    if (text.empty()) return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
    });
}

// Whether the comma-separated list `value` holds `token` (any case).
bool ListHolds(std::string_view value, std::string_view token) {
    while (!value.empty()) {
        const std::size_t comma = std::min(value.find(','), value.size());
        if (Lower(Trim(value.substr(0, comma))) == token) return true;
        value.remove_prefix(std::min(comma + 1, value.size()));
    }
    return false;
}

// The line at `at` without its CRLF or LF; nullopt when its end has not come yet. `at` moves
// past it.
std::optional<std::string_view> NextLine(std::string_view bytes, std::size_t& at) {
    const std::size_t end = bytes.find('\n', at);
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view line = bytes.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    at = end + 1;
    return line;
}

ParseResult Refuse(int status, std::string error) {
    ParseResult r;
    r.status = ParseResult::kRefused;
    r.refusal = status;
    r.error = std::move(error);
    return r;
}

// A number of decimal digits only, at most `limit` + 1 (larger is cut there).
std::optional<std::size_t> Decimal(std::string_view text, std::size_t limit) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    std::size_t n = 0;
    for (char c : text) {
        n = n * 10 + static_cast<std::size_t>(c - '0');
        if (n > limit) return limit + 1;
    }
    return n;
}

// The chunked body from `at`: kComplete with the body and where it ends, kIncomplete, or
// kRefused.
ParseResult Dechunk(std::string_view bytes, std::size_t at, std::size_t body_limit, std::string& body) {
    for (;;) {
        const std::optional<std::string_view> size_line = NextLine(bytes, at);
        if (!size_line) return {};
        std::string_view digits = size_line->substr(0, size_line->find(';'));  // extensions ignored
        digits = Trim(digits);
        if (digits.empty() || digits.size() > 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos)
            return Refuse(400, "a chunk size is not a hexadecimal number");
        const std::size_t size = std::stoul(std::string(digits), nullptr, 16);
        if (body.size() + size > body_limit)
            return Refuse(413, "the body is over " + std::to_string(body_limit) + " bytes");
        if (size == 0) {
            // Trailer lines up to the empty one; their fields are not used.
            for (;;) {
                const std::optional<std::string_view> trailer = NextLine(bytes, at);
                if (!trailer) return {};
                if (trailer->empty()) break;
            }
            ParseResult done;
            done.status = ParseResult::kComplete;
            done.consumed = at;
            return done;
        }
        if (bytes.size() < at + size + 1) return {};
        body.append(bytes.substr(at, size));
        at += size;
        const std::optional<std::string_view> end = NextLine(bytes, at);
        if (!end) return {};
        if (!end->empty()) return Refuse(400, "a chunk is longer than its size");
    }
}

}  // namespace

std::string HttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (key == name) return value;
    return {};
}

ParseResult ParseRequest(std::string_view bytes, std::size_t head_limit, std::size_t body_limit) {
    std::size_t at = 0;
    while (at < bytes.size() && (bytes[at] == '\r' || bytes[at] == '\n')) ++at;
    const std::size_t head_start = at;
    // Bytes that cannot start a request line (a TLS handshake, binary noise) are refused at
    // once rather than waited on for a line end.
    const std::string_view method = bytes.substr(at, bytes.find_first_of(" \r\n", at) - at);
    if (!method.empty() && (!TokenChars(method) || method.size() > 16))
        return Refuse(400, "not an HTTP request");
    HttpRequest r;
    bool request_line = true;
    for (;;) {
        const std::optional<std::string_view> line = NextLine(bytes, at);
        if (!line || at - head_start > head_limit) {
            if (bytes.size() - head_start > head_limit)
                return Refuse(431, "the request line and headers are over " + std::to_string(head_limit) + " bytes");
            if (!line) return {};
        }
        if (line->find('\0') != std::string_view::npos) return Refuse(400, "a NUL byte in the request head");
        if (request_line) {
            request_line = false;
            const std::size_t space1 = line->find(' ');
            const std::size_t space2 = space1 == std::string_view::npos ? space1 : line->find(' ', space1 + 1);
            if (space2 == std::string_view::npos || line->find(' ', space2 + 1) != std::string_view::npos)
                return Refuse(400, "not an HTTP request line (METHOD TARGET HTTP/1.1)");
            r.method = std::string(line->substr(0, space1));
            r.target = std::string(line->substr(space1 + 1, space2 - space1 - 1));
            const std::string_view version = line->substr(space2 + 1);
            if (!TokenChars(r.method) || r.target.empty() || r.target.front() != '/' ||
                r.target.find_first_of("\t\r") != std::string::npos || version.substr(0, 5) != "HTTP/")
                return Refuse(400, "not an HTTP request line (METHOD /PATH HTTP/1.1)");
            if (version == "HTTP/1.1") r.minor_version = 1;
            else if (version == "HTTP/1.0") r.minor_version = 0;
            else return Refuse(505, "only HTTP/1.0 and HTTP/1.1 are served, not " + std::string(version));
            r.path = r.target.substr(0, r.target.find('?'));
            continue;
        }
        if (line->empty()) break;
        if (line->front() == ' ' || line->front() == '\t') return Refuse(400, "a folded header line");
        const std::size_t colon = line->find(':');
        if (colon == std::string_view::npos || !TokenChars(line->substr(0, colon)))
            return Refuse(400, "a header line is not NAME: VALUE");
        const std::string_view value = Trim(line->substr(colon + 1));
        if (std::any_of(value.begin(), value.end(), [](char c) { return std::iscntrl(static_cast<unsigned char>(c)) && c != '\t'; }))
            return Refuse(400, "a control character in a header value");
        r.headers.emplace_back(Lower(line->substr(0, colon)), std::string(value));
    }

    // HTTP/1.1 asks for exactly one Host: without it, or with two, the request names no one server.
    const auto hosts = std::count_if(r.headers.begin(), r.headers.end(), [](const auto& h) { return h.first == "host"; });
    if (hosts > 1) return Refuse(400, "two Host headers");
    if (hosts == 0 && r.minor_version == 1) return Refuse(400, "an HTTP/1.1 request without a Host header");

    std::optional<std::size_t> length;
    bool chunked = false;
    for (const auto& [name, value] : r.headers) {
        if (name == "content-length") {
            const std::optional<std::size_t> n = Decimal(value, body_limit);
            if (!n) return Refuse(400, "Content-Length is not a number: " + value);
            if (length && *length != *n) return Refuse(400, "two different Content-Length headers");
            length = n;
        } else if (name == "transfer-encoding") {
            if (chunked || Lower(value) != "chunked")
                return Refuse(501, "the only transfer coding taken is chunked, not " + value);
            chunked = true;
        }
    }
    if (chunked && length) return Refuse(400, "Content-Length and Transfer-Encoding together");
    if (chunked && r.minor_version == 0) return Refuse(400, "Transfer-Encoding in an HTTP/1.0 request");
    if (length && *length > body_limit)
        return Refuse(413, "the body is over " + std::to_string(body_limit) + " bytes");

    const std::string connection = r.Header("connection");
    r.keep_alive = r.minor_version == 1 && !ListHolds(connection, "close");
    r.upgrade = ListHolds(connection, "upgrade") && Lower(r.Header("upgrade")) == "websocket";

    ParseResult result;
    ParseResult body_due;
    body_due.awaits_continue = Lower(r.Header("expect")) == "100-continue" && at == bytes.size();
    if (chunked) {
        result = Dechunk(bytes, at, body_limit, r.body);
        if (result.status == ParseResult::kIncomplete) return body_due;
        if (result.status != ParseResult::kComplete) return result;
    } else {
        const std::size_t n = length.value_or(0);
        if (bytes.size() - at < n) return body_due;
        r.body = std::string(bytes.substr(at, n));
        result.status = ParseResult::kComplete;
        result.consumed = at + n;
    }
    result.request = std::move(r);
    return result;
}

}  // namespace dpx::http
