#include "http/ApiServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <cstdio>

#include "api/ControlApi.h"
#include "api/Places.h"
#include "http/ApiConnection.h"
#include "http/TlsBackend.h"

// The OpenAPI document and the web page are resources of this static library; a program that
// links it keeps them only when asked by name.
static void InitApiResources() {
    Q_INIT_RESOURCE(http);
    Q_INIT_RESOURCE(web);
}

namespace dpx::api {
namespace {

// Connections the system holds for the server before it takes them.
constexpr int kListenBacklog = 512;
// The WebSocket subprotocol the page asks for.
constexpr char kSubprotocol[] = "dpx20remote";

}  // namespace

// ---------------------------------------------------------------- connections

// Takes each connection at once, so that the queue of pending ones never fills and stops the
// port from accepting.
class ApiServer::Listener final : public QTcpServer {
public:
    explicit Listener(ApiServer& server) : QTcpServer(&server), server_(server) {}

protected:
    void incomingConnection(qintptr descriptor) override {
        QTcpSocket* socket = nullptr;
        if (server_.tls_) {
            auto* tls = new QSslSocket(this);
            tls->setSslConfiguration(*server_.tls_);
            // The first handshake that fails is told: a certificate or key the system's TLS
            // cannot use shows there, and not again for every client.
            connect(tls, &QSslSocket::errorOccurred, this, [this, tls] {
                if (tls->mode() == QSslSocket::UnencryptedMode || tls->isEncrypted() || handshake_failure_told_) return;
                handshake_failure_told_ = true;
                server_.Warn("a TLS handshake failed: " + tls->errorString().toStdString());
            });
            socket = tls;
        } else {
            socket = new QTcpSocket(this);
        }
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        // Over TLS the connection looks at the first bytes before it starts the handshake
        // (ApiServer::Connection::Sniff).
        server_.Admit(socket);
    }

private:
    ApiServer& server_;
    bool handshake_failure_told_ = false;
};

// One HTTP connection: reads requests from the front of what its socket received (peeked,
// so that an upgrade leaves the socket's bytes to the WebSocket server), answers each before

ApiServer::ApiServer(Endpoint& api, QObject* parent)
    : QObject(parent), api_(api), websockets_(QStringLiteral("dpx20remote"), QWebSocketServer::NonSecureMode) {
    InitApiResources();
    clock_.start();
    connect(&websockets_, &QWebSocketServer::newConnection, this, &ApiServer::TakeEventClients);
    websockets_.setSupportedSubprotocols({QString::fromLatin1(kSubprotocol)});
    api_.on_event = [this](const std::string& json) { Broadcast(json); };
    // Answers and events computed on a box's thread come back to the application's thread,
    // where the server runs; after the server has ended they find it gone and are dropped.
    api_.SetPost([alive = std::weak_ptr<int>(alive_)](std::function<void()> work) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [alive, work = std::move(work)] {
                if (!alive.expired()) work();
            },
            Qt::QueuedConnection);
    });
    ping_timer_.setInterval(kPingMs);
    connect(&ping_timer_, &QTimer::timeout, this, &ApiServer::PingClients);
    due_timer_.setSingleShot(true);
    connect(&due_timer_, &QTimer::timeout, this, &ApiServer::SendDueSettings);
}

ApiServer::~ApiServer() {
    alive_.reset();
    api_.on_event = nullptr;
    Close();
}

void ApiServer::Warn(const std::string& text) const {
    if (on_warning) return on_warning(text);
    std::fprintf(stderr, "%s: warning: %s\n", QCoreApplication::applicationName().toLocal8Bit().constData(), text.c_str());
    std::fflush(stderr);
}

void ApiServer::SetTls(std::string cert_file, std::string key_file) {
    cert_file_ = std::move(cert_file);
    key_file_ = std::move(key_file);
}

bool ApiServer::Listen(const std::string& where, std::string* why) {
    Close();
    ListenAddress a;
    if (!ParseListenAddress(where, &a, why)) return false;
    QHostAddress address;
    if (!address.setAddress(QString::fromStdString(a.host))) {
        *why = "not an IP address: " + a.host + " (the control API listens on an address of this computer)";
        return false;
    }
    tls_.reset();
    if (!cert_file_.empty() || !key_file_.empty()) {
        if (cert_file_.empty()) {
            *why = "HTTPS needs --api-cert FILE with --api-key FILE (PEM), or --api-cert FILE.p12 alone";
            return false;
        }
        if (!QSslSocket::supportsSsl()) {
            *why = "this build has no TLS support (" + QSslSocket::activeBackend().toStdString() +
                   "); the control API can be served over plain HTTP only";
            return false;
        }
        QList<QSslCertificate> chain;
        QSslKey key;
        if (key_file_.empty()) {
            // PKCS#12 (.p12, .pfx): certificate, chain and key in one file without a passphrase.
            QFile bundle(QString::fromStdString(cert_file_));
            QSslCertificate certificate;
            QList<QSslCertificate> more;
            if (!bundle.open(QIODevice::ReadOnly) || !ImportPkcs12(bundle, &key, &certificate, &more)) {
                *why = "no PKCS#12 certificate and key without a passphrase in " + cert_file_ +
                       " (with PEM files, give --api-key FILE too)";
                return false;
            }
            chain = QList<QSslCertificate>{certificate} + more;
        } else {
            chain = QSslCertificate::fromPath(QString::fromStdString(cert_file_));
            QFile key_file(QString::fromStdString(key_file_));
            if (chain.isEmpty()) {
                *why = "no PEM certificate in " + cert_file_;
                return false;
            }
            if (!key_file.open(QIODevice::ReadOnly)) {
                *why = "cannot read the key file " + key_file_ + ": " + key_file.errorString().toStdString();
                return false;
            }
            const QByteArray pem = key_file.readAll();
            for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
                key = QSslKey(pem, algorithm, QSsl::Pem);
                if (!key.isNull()) break;
            }
            if (key.isNull()) {
                *why = "no unencrypted PEM private key in " + key_file_;
                return false;
            }
        }
        if (const std::string warning = TlsBackendWarning(); !warning.empty()) Warn(warning);
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificateChain(chain);
        tls.setPrivateKey(key);
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        tls_ = tls;
    }
    Access access;
    access.loopback = address.isLoopback();
    if (!access.loopback) {
        std::string warning;
        access.token = LoadOrMakeToken(why, &warning);
        if (access.token.empty()) return false;
        if (!warning.empty()) Warn(warning);
        token_file_ = TokenFile();
        token_stamp_ = TokenFileStamp(token_file_);
    }
    auto* listener = new Listener(*this);
    // Room for a burst of connections the event loop has not taken yet: beyond the backlog the
    // system drops a client's SYN, and the client tries again only a second later.
    listener->setListenBacklogSize(kListenBacklog);
    if (!listener->listen(address, a.port)) {
        *why = "cannot listen on " + where + ": " + listener->errorString().toStdString();
        delete listener;
        return false;
    }
    listener_ = listener;
    token_ = access.token;
    api_.SetAccess(access);
    address_ = address;
    port_ = listener->serverPort();
    token_required_ = !access.token.empty();
    if (!access.loopback && !tls_)
        Warn("the control API is served beyond this computer without TLS: the token and every request "
             "cross the network in clear text (--api-cert FILE --api-key FILE serve HTTPS)");
    return true;
}

std::string ApiServer::Url() const { return port_ == 0 ? std::string() : UrlFor(address_); }

std::string ApiServer::UrlFor(const QHostAddress& address) const {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol ? '[' + address.toString() + ']'
                                                                             : address.toString();
    return QStringLiteral("%1://%2:%3").arg(tls_ ? "https" : "http", host).arg(port_).toStdString() + kBasePath;
}

void ApiServer::Close() {
    ping_timer_.stop();
    due_timer_.stop();
    for (auto& [client, state] : clients_) {
        client->disconnect(this);
        client->abort();
        client->deleteLater();
    }
    clients_.clear();
    delete listener_;  // its connections with it
    listener_ = nullptr;
    connections_.clear();
    upgrading_.clear();
    port_ = 0;
}

void ApiServer::Admit(QTcpSocket* socket) {
    std::vector<Place> places;
    std::vector<Connection*> order;
    for (Connection* c : connections_) {
        places.push_back(c->Describe());
        order.push_back(c);
    }
    const Room room = MakeRoom(places, socket->peerAddress().toString().toStdString(), {kMaxConnections, kMaxPerPeer});
    if (room.evict >= 0) order[static_cast<std::size_t>(room.evict)]->Evict();  // it leaves the list
    std::optional<Response> refusal;
    if (!room.refusal.empty()) refusal = Busy(503, room.refusal);
    auto* connection = new Connection(*this, socket, std::move(refusal));
    if (connection->Counted()) connections_.push_back(connection);
    // Its request is read at once when it came with the connection: a newcomer is not kept
    // waiting behind what else the event loop has to do.
    if (!tls_) connection->Start();
}

qint64 ApiServer::Unsent() const {
    qint64 unsent = 0;
    for (const Connection* c : connections_) unsent += c->Unsent();
    return unsent;
}

void ApiServer::Forget(Connection* connection) { connections_.remove(connection); }

void ApiServer::Upgrade(QTcpSocket* socket, qint64 request_bytes) {
    for (QObject* child : socket->children())
        if (auto* connection = dynamic_cast<Connection*>(child)) {
            socket->disconnect(connection);
            Forget(connection);
        }
    // The socket stays until its WebSocket takes it (TakeEventClients); a failed handshake
    // leaves it to be deleted when it closes.
    QObject::disconnect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::disconnected, this, [this, socket = QPointer<QTcpSocket>(socket)] {
        if (socket && socket->parent() == listener_) socket->deleteLater();
    });
    // Until the WebSocket is taken, anything beyond the upgrade request came before the
    // handshake's answer: the client is cut (TakeEventClients checks what comes after).
    connect(socket, &QTcpSocket::readyRead, this, [this, socket = QPointer<QTcpSocket>(socket), request_bytes] {
        if (socket && socket->parent() == listener_ && socket->bytesAvailable() > request_bytes) socket->abort();
    });
    upgrading_.push_back(socket);
    websockets_.handleConnection(socket);
}

// ---------------------------------------------------------------- requests

void ApiServer::RefreshToken() {
    const qint64 stamp = TokenFileStamp(token_file_);
    if (stamp == token_stamp_) return;
    std::string why, warning;
    const std::string token = LoadOrMakeToken(&why, &warning);
    if (!warning.empty()) Warn(warning);
    if (token.empty()) {
        Warn("the token file cannot be read; the token in use stays: " + why);
        token_stamp_ = stamp;
        return;
    }
    token_stamp_ = TokenFileStamp(token_file_);
    if (token == token_) return;
    token_ = token;
    api_.SetAccess({token, false});
    // An event client let in with the old token hears no more: it comes back with the new one.
    for (auto& [client, state] : std::map<QWebSocket*, EventClient>(clients_))
        client->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("the token was replaced"));
}

std::string ApiServer::Authorization() {
    if (!token_required_) return {};
    RefreshToken();
    return "Bearer " + token_;
}

bool ApiServer::EarnsPlace(const Request& request) const {
    if (token_required_) return BearerMatches(request.authorization, token_);
    return !LocalPath(request.path);
}

void ApiServer::Answer(const Connection& connection, const Request& request, const Endpoint::Reply& reply) {
    if (token_required_) RefreshToken();
    if (std::optional<Response> local = AnswerLocally(request, connection.Peer().isLoopback())) return reply(*local);
    api_.Handle(request, [this, reply](Response response) {
        if (response.status == kSwitchingProtocols && EventClients() >= kMaxEventClients)
            response = Busy(503, "busy: " + std::to_string(kMaxEventClients) + " event clients are connected");
        reply(std::move(response));
    });
}

}  // namespace dpx::api
