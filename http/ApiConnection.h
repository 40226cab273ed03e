#pragma once
// One HTTP connection of the ApiServer: reads requests from the front of what its socket
// received (peeked, so that an upgrade leaves the socket's bytes to the WebSocket server),
// answers each before the next is read, and closes when the client or the request asks, on a
// refusal that leaves the stream unreadable, or when its time runs out. A child of its socket.
//
// What it costs is bounded: the socket holds at most one request at its limits unread (the
// system's buffers then stop the client), and while more than kWriteBacklogLimit of answers wait
// to be sent the connection reads nothing; if they still wait after kStuckMs (SetStuckMs) it is
// cut. It answers a few pipelined requests per turn of the event loop, so that one client
// holds up no other. Over TLS it starts on its first byte: a handshake, or plain HTTP told
// where the HTTPS address is.
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <optional>
#include <string>

#include "api/ControlApi.h"
#include "api/HttpRequest.h"
#include "http/ApiServer.h"
#include "api/Places.h"

namespace dpx::api {

class ApiServer::Connection final : public QObject {
public:
    Connection(ApiServer& server, QTcpSocket* socket, std::optional<Response> refusal);
    ~Connection() override;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const QHostAddress& Peer() const { return peer_; }
    // Its place among the server's connections, as MakeRoom weighs it.
    Place Describe() const;
    bool Counted() const { return !refusal_; }
    qint64 Unsent() const { return socket_->bytesToWrite(); }
    void Evict();
    // Reads the first request (a plain connection; one over TLS starts once its handshake is done).
    void Start();

private:
    // What Answered needs of the request it answers.
    struct Asked {
        std::size_t consumed;
        bool keep_alive;
        bool head_only;
        bool websocket;
        bool earns_place;
    };

    void Sniff(QSslSocket& tls);
    void Refuse(const Response& response);
    void Read();
    bool Handle(const http::ParseResult& parsed);
    void Answered(const Asked& asked, const Response& response);
    void Finish(const Response& response, bool head_only);
    void Written();
    void TimeUp();
    void Touch();

    ApiServer& server_;
    QTcpSocket* socket_;
    QHostAddress peer_;
    std::string peer_name_;
    std::optional<Response> refusal_;
    QTimer timer_;
    QTimer more_;  // reads on in the next turn of the event loop
    bool kept_ = false;      // has earned its place (Places.h)
    qint64 active_ms_ = 0;   // on the server's clock
    bool handling_ = false;  // a request is being answered: nothing more is read meanwhile
    bool in_handle_ = false;
    bool read_on_ = false;   // answered within Handle: the next request may be read
    bool stalled_ = false;   // too much unsent: nothing is read until the client takes some
    bool closing_ = false;
    bool draining_ = false;
    QElapsedTimer draining_since_;
    qint64 drained_ = 0;
};

}  // namespace dpx::api
