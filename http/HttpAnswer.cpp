#include "http/HttpAnswer.h"

#include <algorithm>

namespace dpx::api {
namespace {

// What every answer allows a browser: the page's own files and requests, no inline script or
// style, no frame of it in another page.
constexpr char kSecurityHeaders[] =
    "X-Content-Type-Options: nosniff\r\n"
    "Content-Security-Policy: default-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'\r\n"
    "Referrer-Policy: no-referrer\r\n";

const char* ReasonPhrase(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 408: return "Request Timeout";
        case 409: return "Conflict";
        case 413: return "Content Too Large";
        case 422: return "Unprocessable Content";
        case 426: return "Upgrade Required";
        case 500: return "Internal Server Error";
        case 431: return "Request Header Fields Too Large";
        case 501: return "Not Implemented";
        case 503: return "Service Unavailable";
        case 505: return "HTTP Version Not Supported";
        default: return status < 300 ? "OK" : "Error";
    }
}

}  // namespace

QByteArray EncodeAnswer(const Response& response, bool head_only, bool close) {
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + ReasonPhrase(response.status) + "\r\n";
    out += "Content-Type: " +
           (response.content_type.empty() ? QByteArray("application/json") : QByteArray::fromStdString(response.content_type)) +
           "\r\nCache-Control: no-store\r\n" + kSecurityHeaders;
    out += "Content-Length: " + QByteArray::number(static_cast<qsizetype>(response.body.size())) + "\r\n";
    if (response.status == 401) out += "WWW-Authenticate: Bearer\r\n";
    if (response.retry_after_s > 0 || response.status == 503)
        out += "Retry-After: " + QByteArray::number(std::max(1, response.retry_after_s)) + "\r\n";
    if (!response.allow.empty()) {
        QByteArray allow = QByteArray::fromStdString(response.allow);
        if (allow == "GET") allow += ", HEAD";
        out += "Allow: " + allow + "\r\n";
    }
    if (close) out += "Connection: close\r\n";
    out += "\r\n";
    if (!head_only) out += QByteArray::fromStdString(response.body);
    return out;
}

}  // namespace dpx::api
