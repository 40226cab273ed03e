#include "http/ApiConnection.h"

#include <QPointer>
#include <QSslSocket>
#include <algorithm>
#include <string_view>

#include "http/HttpAnswer.h"

namespace dpx::api {
namespace {

// The first byte of a TLS ClientHello: the record type "handshake".
constexpr char kTlsHandshakeRecord = 0x16;
// What a connection may hold unread: a whole request at its limits, chunked with some room.
constexpr qint64 kReadBufferLimit = static_cast<qint64>(ApiServer::kHeadLimit + 2 * kBodyLimit);
// Most requests are small: the front of what waits is looked at first, so that a connection
// holding many pipelined requests does not have all of them copied for each one.
constexpr qint64 kFirstLook = 4096;
// The requests one connection has answered in one turn of the event loop, at most: a client
// that pipelines many small ones holds up no other connection meanwhile.
constexpr int kRequestsPerTurn = 4;
// After a refusal, what comes is read and dropped until the client has been quiet this long
// (then the connection is closed), at most kDrainLimit bytes and kFirstRequestMs (then it is
// cut).
constexpr int kDrainQuietMs = 200;
constexpr qint64 kDrainLimit = 1024 * 1024;
// The token of a WebSocket upgrade's "Sec-WebSocket-Protocol: dpx20remote, bearer.TOKEN",
// which a browser cannot send in a header of its WebSocket.
constexpr std::string_view kBearerSubprotocol = "bearer.";

// That token as an Authorization header, or empty.
std::string SubprotocolBearer(std::string_view protocols) {
    while (!protocols.empty()) {
        const std::size_t comma = std::min(protocols.find(','), protocols.size());
        std::string_view item = protocols.substr(0, comma);
        protocols.remove_prefix(std::min(comma + 1, protocols.size()));
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        if (item.substr(0, kBearerSubprotocol.size()) == kBearerSubprotocol)
            return "Bearer " + std::string(item.substr(kBearerSubprotocol.size()));
    }
    return {};
}

}  // namespace

ApiServer::Connection::Connection(ApiServer& server, QTcpSocket* socket, std::optional<Response> refusal)
    : QObject(socket),
      server_(server),
      socket_(socket),
      peer_(socket->peerAddress()),
      peer_name_(peer_.toString().toStdString()),
      refusal_(std::move(refusal)) {
    Touch();
    socket_->setReadBufferSize(kReadBufferLimit);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { TimeUp(); });
    more_.setSingleShot(true);
    more_.setInterval(0);
    connect(&more_, &QTimer::timeout, this, [this] { Read(); });
    timer_.start(kFirstRequestMs);
    connect(socket_, &QTcpSocket::disconnected, socket_, &QObject::deleteLater);
    connect(socket_, &QTcpSocket::readyRead, this, [this] { Read(); });
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] { Written(); });
    // Over TLS the connection starts once the handshake is done (Sniff starts it); a plain
    // one is started by the server once it counts it.
    if (auto* tls = qobject_cast<QSslSocket*>(socket_)) connect(tls, &QSslSocket::encrypted, this, [this] { Start(); });
}

ApiServer::Connection::~Connection() { server_.Forget(this); }

Place ApiServer::Connection::Describe() const { return Place{peer_name_, kept_, closing_, active_ms_}; }

void ApiServer::Connection::Evict() {
    server_.Forget(this);
    timer_.stop();
    socket_->abort();
}

void ApiServer::Connection::Touch() { active_ms_ = server_.clock_.elapsed(); }

void ApiServer::Connection::Start() {
    if (refusal_) return Refuse(*refusal_);
    Read();
}

// Answers a request that could not be read (or a connection that has no place) and closes
// once the client has had the time to read the answer.
void ApiServer::Connection::Refuse(const Response& response) {
    closing_ = true;
    if (socket_->state() != QAbstractSocket::ConnectedState) return;
    socket_->write(EncodeAnswer(response, false, true));
    socket_->flush();
    draining_ = true;
    draining_since_.start();
    timer_.start(kDrainQuietMs);
    Read();
}

void ApiServer::Connection::Read() {
    if (draining_) {
        // What comes after a refusal is read and dropped, so that closing does not reset the
        // connection before the client has read the answer.
        drained_ += socket_->skip(socket_->bytesAvailable());
        if (drained_ > kDrainLimit || draining_since_.elapsed() > kFirstRequestMs) socket_->abort();
        else timer_.start(kDrainQuietMs);
        return;
    }
    if (auto* tls = qobject_cast<QSslSocket*>(socket_); tls && !tls->isEncrypted()) {
        if (tls->mode() == QSslSocket::UnencryptedMode) Sniff(*tls);
        return;  // the handshake is under way
    }
    if (handling_ || closing_ || refusal_ || stalled_) return;
    const auto parse = [](const QByteArray& bytes) {
        return http::ParseRequest(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), kHeadLimit, kBodyLimit);
    };
    for (int handled = 0; socket_->state() == QAbstractSocket::ConnectedState && !closing_; ++handled) {
        if (handled == kRequestsPerTurn) {
            // The rest waits for the next turn of the event loop, after the other connections.
            // A zero timer, not a queued call: queued calls are all run before the event loop
            // looks at the sockets again, so reading on that way would still hold the others.
            more_.start();
            return;
        }
        const qint64 available = socket_->bytesAvailable();
        QByteArray bytes = socket_->peek(std::min(available, kFirstLook));
        if (bytes.isEmpty()) return;
        http::ParseResult parsed = parse(bytes);
        if (parsed.status == http::ParseResult::kIncomplete && bytes.size() < available) {
            bytes = socket_->peek(available);
            parsed = parse(bytes);
        }
        if (parsed.status == http::ParseResult::kIncomplete) {
            if (bytes.size() >= kReadBufferLimit) Refuse(Refusal(413, "the request is over its size limit"));
            // A client that waits for leave to send its body (curl does above 1 KiB) gets it.
            if (parsed.awaits_continue) socket_->write("HTTP/1.1 100 Continue\r\n\r\n");
            return;
        }
        if (parsed.status == http::ParseResult::kRefused) return Refuse(Refusal(parsed.refusal, parsed.error));
        if (!Handle(parsed)) return;
    }
}

// The first bytes on the HTTPS port: a TLS handshake starts with a handshake record (22); a
// client that speaks plain HTTP there is told where to go instead of being closed without a word.
void ApiServer::Connection::Sniff(QSslSocket& tls) {
    char first = 0;
    if (tls.peek(&first, 1) < 1) return;
    if (first == kTlsHandshakeRecord) return tls.startServerEncryption();  // it reads what was peeked
    Response refusal;
    refusal.status = 400;
    refusal.content_type = "text/plain; charset=utf-8";
    refusal.body = "This port speaks HTTPS: use " + server_.UrlFor(tls.localAddress()) + "\n";
    Refuse(refusal);
}

// Hands one whole request to the server; true when it was answered at once and the next one
// may be read, false when the answer comes later (Answered reads on) or the connection is
// done with.
bool ApiServer::Connection::Handle(const http::ParseResult& parsed) {
    const http::HttpRequest& h = parsed.request;
    Request request;
    request.method = h.method == "HEAD" ? "GET" : h.method;  // the same answer, without its body
    request.path = h.path;
    request.body = h.body;
    request.authorization = h.Header("authorization");
    request.origin = h.Header("origin");
    request.host = h.Header("host");
    request.scheme = server_.tls_ ? "https" : "http";
    request.websocket = h.upgrade;
    // The subprotocol carries the token of a WebSocket handshake only (a GET), never of a
    // request that merely names the upgrade.
    if (request.websocket && h.method == "GET" && request.authorization.empty())
        request.authorization = SubprotocolBearer(h.Header("sec-websocket-protocol"));
    timer_.stop();
    Touch();
    handling_ = true;
    in_handle_ = true;
    read_on_ = false;
    const bool earns_place = server_.EarnsPlace(request);
    // The token proves the place at once: a flood of newcomers does not take it while the
    // request waits for its box.
    if (earns_place && server_.token_required_) kept_ = true;
    const Asked asked{parsed.consumed, h.keep_alive, h.method == "HEAD", request.websocket, earns_place};
    // The answer may come after the client has gone: it then finds no connection and is
    // dropped. Nothing here is held across the wait.
    const QPointer<Connection> self(this);
    server_.Answer(*this, request, [self, asked](Response response) {
        if (self) self->Answered(asked, response);
    });
    if (!self) return false;
    in_handle_ = false;
    return !handling_ && read_on_;
}

void ApiServer::Connection::Answered(const Asked& asked, const Response& response) {
    handling_ = false;
    Touch();
    if (socket_->state() != QAbstractSocket::ConnectedState) return;  // the client left meanwhile
    if (response.status == kSwitchingProtocols) {
        // A WebSocket client waits for the handshake's answer before it sends a frame: what
        // came after the upgrade request would reach the WebSocket unchecked.
        if (socket_->bytesAvailable() > static_cast<qint64>(asked.consumed))
            return Finish(Refusal(400, "a WebSocket client sends nothing before the handshake's answer"), false);
        // The WebSocket server reads the upgrade request itself.
        closing_ = true;
        server_.Upgrade(socket_, static_cast<qint64>(asked.consumed));
        deleteLater();
        return;
    }
    socket_->skip(static_cast<qint64>(asked.consumed));
    // Without the token a connection keeps no place; what it sends next is not read.
    const bool refused_entry = response.status == 401 || response.status == 403;
    if (asked.earns_place && !refused_entry) kept_ = true;
    if (!asked.keep_alive || refused_entry || asked.websocket) return Finish(response, asked.head_only);
    socket_->write(EncodeAnswer(response, asked.head_only, false));
    socket_->flush();
    if (socket_->bytesToWrite() > kWriteBacklogLimit) {
        // The client does not read what it asked for: nothing more is read until it does.
        stalled_ = true;
        timer_.start(server_.stuck_ms_);
        return;
    }
    timer_.start(kKeepAliveMs);
    // A pipelined request may wait in the socket already.
    if (in_handle_) read_on_ = true;
    else more_.start();
}

// The client took some of the answers: a stalled connection reads on once what waits is below
// the limit again.
void ApiServer::Connection::Written() {
    if (!stalled_ || socket_->bytesToWrite() > kWriteBacklogLimit) return;
    stalled_ = false;
    Touch();
    timer_.start(kKeepAliveMs);
    Read();
}

// The last answer: written, then the connection closes.
void ApiServer::Connection::Finish(const Response& response, bool head_only) {
    closing_ = true;
    timer_.stop();
    if (socket_->state() != QAbstractSocket::ConnectedState) return;
    socket_->write(EncodeAnswer(response, head_only, true));
    socket_->disconnectFromHost();
    // A client that does not take the answer is not waited for long (TimeUp). The connection's
    // own timer, not one of its own per answer: a flood of refused requests would otherwise
    // leave thousands of timers pending, and every timer of the event loop costs more.
    timer_.start(kFirstRequestMs);
}

void ApiServer::Connection::TimeUp() {
    if (handling_) return;
    if (closing_ && !draining_) return socket_->abort();  // its last answer stayed unread
    if (stalled_) return socket_->abort();  // its answers stayed unread past the time allowed
    if (draining_) return socket_->disconnectFromHost();
    if (socket_->bytesAvailable() > 0) return Refuse(Refusal(408, "the request did not come whole in time"));
    socket_->abort();
}

}  // namespace dpx::api
