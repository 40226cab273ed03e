#pragma once
// The control API on the network: Qt HTTP Server takes the requests and hands each, whole, to
// the ControlApi; its events go to every WebSocket client of GET /api/v1/events. The server
// runs on the thread and event loop of its host (the panel's, also inside its modal dialogs,
// or the service's). A client gets a bounded share: at most kMaxConnections connections, a
// request whose bytes exceed kRequestByteLimit cuts its connection, a connection that brings
// no whole request within kRequestTimeoutMs is closed, and an event client that stops reading
// is dropped.
#include <QAbstractHttpServer>
#include <QHostAddress>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWebSocket;

namespace dpx::api {

class ControlApi;

// Where the API listens: "PORT" (on 127.0.0.1), "HOST:PORT", "[IPv6]:PORT"; port 0 takes any
// free one. `host` "localhost" means 127.0.0.1.
struct ListenAddress {
    std::string host = "127.0.0.1";
    uint16_t port = 0;
};
// False with `why` when `address` is none of these forms.
bool ParseListenAddress(const std::string& address, ListenAddress* out, std::string* why);

// The token that a listener on an address other than a loopback one asks for, kept in the
// user's configuration: made on first use, readable by the user alone (mode 0600).
std::string TokenFile();
// The token, made and saved when there is none yet; empty with `why` when it cannot be kept.
std::string LoadOrMakeToken(std::string* why);

class ApiServer final : public QAbstractHttpServer {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 64;
    static constexpr int kMaxEventClients = 32;
    static constexpr int kRequestTimeoutMs = 10000;
    // The bytes one request may send (head and body); a body up to this size is still answered
    // with 413, a longer one is not read.
    static constexpr qint64 kRequestByteLimit = 256 * 1024;
    // What an event client may leave unread before it is dropped.
    static constexpr qint64 kEventBacklogLimit = 1024 * 1024;

    // Serves `api`, which must outlive it, and takes its events.
    explicit ApiServer(ControlApi& api, QObject* parent = nullptr);
    ~ApiServer() override;

    // Listens on `where` ([HOST:]PORT). Any address but a loopback one asks every request for
    // the token (LoadOrMakeToken). False with `why` (the address taken, not an address, ...).
    bool Listen(const std::string& where, std::string* why);
    // "http://127.0.0.1:8420/api/v1" while listening, else empty.
    std::string Url() const;
    bool TokenRequired() const { return token_required_; }
    // Closes the port, every connection and every event client.
    void Close();
    int EventClients() const { return static_cast<int>(clients_.size()); }
    // Runs `work` once the answer in progress has gone out, on the event loop; what is asked
    // for again before it ran runs once (the latest `work`). The options file is written this
    // way: a burst of requests flushes it once, and no answer waits for the disk. Close() runs
    // what is still due.
    void Soon(std::function<void()> work);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    void TakeEventClients();
    void Broadcast(const std::string& json);
    void Write(const QHttpServerRequest& request, QTcpSocket* socket, int status, const std::string& body);
    void RunDue();

    ControlApi& api_;
    QHostAddress address_;
    quint16 port_ = 0;
    bool token_required_ = false;
    int connections_ = 0;
    std::vector<QWebSocket*> clients_;
    // The answer to a WebSocket upgrade that was refused, written by missingHandler.
    int refused_status_ = 0;
    std::string refused_body_;
    std::function<void()> due_;
};

}  // namespace dpx::api
