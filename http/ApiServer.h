#pragma once
// The control API on the network: HTTP/1.1 (or HTTPS) connections read here, request by
// request, each handed whole to the API (one box's ControlApi or a BoxRouter) and answered before the next one is read; its
// events go to every WebSocket client of GET /api/v1/events (Qt's WebSocket server takes the
// upgraded connection). The server runs on the thread and event loop of its host (the
// panel's, also inside its modal dialogs, or the service's).
//
// No client locks out another: a connection that has not sent a whole request within
// kFirstRequestMs is closed; a peer address has at most kMaxPerPeer connections and the server
// kMaxConnections. A connection keeps its place only once it earned it (with the token, or on a
// loopback listener with a request of the API itself); any other gives way to a newcomer
// (api/Places.h), and when none can, the newcomer is answered 503 busy. What a connection
// costs is bounded (http/ApiConnection.h).
//
// The parts: ApiServer.cpp (listening, places, handing requests on), ApiConnection.cpp (one
// connection), HttpAnswer.cpp (an answer's bytes), LocalAnswers.cpp
// (the page's files, /health, the OpenAPI document), EventClients.cpp (the WebSocket clients),
// ApiToken.cpp (the listen address and the token); api/Places.cpp (who gives way, Qt-free).
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocketServer>
#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWebSocket;

namespace dpx::api {

class Endpoint;
struct Request;
struct Response;

// Where the API listens: "PORT" (on 127.0.0.1), "HOST:PORT", "[IPv6]:PORT"; port 0 takes any
// free one. `host` "localhost" means 127.0.0.1.
struct ListenAddress {
    std::string host = "127.0.0.1";
    uint16_t port = 0;
};
// False with `why` when `address` is none of these forms.
bool ParseListenAddress(const std::string& address, ListenAddress* out, std::string* why);

// The token that a listener on an address other than a loopback one asks for, kept in the
// user's configuration: made on first use, readable by the user alone (mode 0600), written
// whole to a temporary file that is then renamed over the old one.
std::string TokenFile();
// The token, made and saved when there is none yet; empty with `why` when it cannot be kept.
// A file that other users could read is no secret any more: it gets a new token, and
// `warning` says so.
std::string LoadOrMakeToken(std::string* why, std::string* warning = nullptr);
// Replaces the token with a new one (dpx20ctl token --new); empty with `why` on failure.
// Running programs take it at their next request.
std::string MakeNewToken(std::string* why);
// Changes when the token file is replaced, removed or its permissions change; 0 when there is none.
qint64 TokenFileStamp(const std::string& file = TokenFile());

class ApiServer final : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 64;
    static constexpr int kMaxPerPeer = 16;
    static constexpr int kMaxEventClients = 32;
    // A new connection's time to send its first whole request (the TLS handshake included).
    static constexpr int kFirstRequestMs = 2000;
    // A connection that was answered waits this long for its next request.
    static constexpr int kKeepAliveMs = 10000;
    // The request line and headers; longer is refused with 431 (a body over kBodyLimit: 413).
    static constexpr std::size_t kHeadLimit = 16 * 1024;
    // What a connection may leave unsent before it stops reading its requests, and how long
    // it may stay so before it is cut (SetStuckMs changes it).
    static constexpr qint64 kWriteBacklogLimit = 256 * 1024;
    static constexpr int kStuckMs = 10000;
    // What an event client may leave unread before it is dropped.
    static constexpr qint64 kEventBacklogLimit = 1024 * 1024;
    // Every event client is pinged this often; one that did not answer the last ping is dropped.
    static constexpr int kPingMs = 15000;
    // The events of one setting that one client receives in a second, at most: a faster burst
    // of changes reaches it as the latest value (with the value it saw last as `previous`).
    static constexpr int kSettingEventsPerSecond = 20;

    // Serves `api`, which must outlive it, and takes its events.
    explicit ApiServer(Endpoint& api, QObject* parent = nullptr);
    ~ApiServer() override;

    // The certificate (chain) and private key, PEM files, that the next Listen() serves HTTPS
    // and WSS with; both empty: plain HTTP.
    void SetTls(std::string cert_file, std::string key_file);
    // Listens on `where` ([HOST:]PORT). Any address but a loopback one asks every request for
    // the token (LoadOrMakeToken). False with `why` (the address taken, not an address, a
    // certificate that cannot be read, ...). What the operator should know (the token in
    // clear on the network, a token file replaced) goes to on_warning.
    bool Listen(const std::string& where, std::string* why);
    // "http://127.0.0.1:8420/api/v1" (https with TLS) while listening, else empty.
    std::string Url() const;
    // That address for a client that reached the server at `address` (a listener on 0.0.0.0).
    std::string UrlFor(const QHostAddress& address) const;
    bool TokenRequired() const { return token_required_; }
    // The Authorization header of a request made inside this process (the Ember+ provider's):
    // the token's where the listener asks for one (read again when its file changed), else empty.
    std::string Authorization();
    // How long a connection may leave more than kWriteBacklogLimit unsent before it is cut;
    // kStuckMs unless changed (tests shorten it).
    void SetStuckMs(int ms) { stuck_ms_ = ms; }
    // Closes the port, every connection and every event client.
    void Close();
    int EventClients() const { return static_cast<int>(clients_.size()); }
    int Connections() const { return static_cast<int>(connections_.size()); }
    // The bytes of answers that wait to be sent, over every connection.
    qint64 Unsent() const;

    // Receives each warning; by default it is printed on standard error.
    std::function<void(const std::string& text)> on_warning;

private:
    class Connection;
    class Listener;
    friend class Connection;
    friend class Listener;
    struct PendingSetting {
        qint64 sent_ms = -1000000;       // when this client last received this setting
        std::optional<std::string> due;  // the latest event held back, as JSON
        std::optional<std::string> previous;  // the value the client saw before it, as JSON
    };
    struct EventClient {
        std::string box;  // only this box's events (?box=NAME or /boxes/NAME/events); empty: all
        bool answered_ping = true;
        std::string unread;       // the start of a frame it is sending
        bool in_message = false;  // a message's continuation frames are due
        std::map<std::string, PendingSetting> settings;
    };

    void Admit(QTcpSocket* socket);
    void Forget(Connection* connection);
    // Hands an accepted upgrade, its request of `request_bytes` unread, to the WebSocket server.
    void Upgrade(QTcpSocket* socket, qint64 request_bytes);
    // Answers a request that was read whole, at once or once its box's operation has run;
    // kSwitchingProtocols hands the socket on.
    void Answer(const Connection& connection, const Request& request, const std::function<void(Response)>& reply);
    std::optional<Response> AnswerLocally(const Request& request, bool loopback_peer);
    // Whether the server answers `path` itself (the page's files, /health, /openapi.json).
    static bool LocalPath(const std::string& path);
    // Whether `request` earns its connection a kept place (Places.h).
    bool EarnsPlace(const Request& request) const;
    void RefreshToken();
    void TakeEventClients();
    void ReadFrames(QWebSocket* client, QTcpSocket* socket);
    void Broadcast(const std::string& json);
    void Send(QWebSocket* client, const QString& text);
    void SendDueSettings();
    void PingClients();
    void Warn(const std::string& text) const;

    Endpoint& api_;
    QHostAddress address_;
    quint16 port_ = 0;
    bool token_required_ = false;
    int stuck_ms_ = kStuckMs;
    std::string token_;
    std::string token_file_;  // TokenFile() when the server began to listen
    qint64 token_stamp_ = 0;
    std::string cert_file_, key_file_;
    std::optional<QSslConfiguration> tls_;
    Listener* listener_ = nullptr;
    std::list<Connection*> connections_;  // oldest first
    QWebSocketServer websockets_;
    std::vector<QPointer<QTcpSocket>> upgrading_;
    std::map<QWebSocket*, EventClient> clients_;
    QTimer ping_timer_;
    QTimer due_timer_;
    QElapsedTimer clock_;  // since the server was made: the uptime in /health
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // work handed back after the end is dropped
};

}  // namespace dpx::api
