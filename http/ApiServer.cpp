#include "http/ApiServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QSaveFile>
#include <QUrlQuery>
#include <QWebSocket>
#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "api/ControlApi.h"
#include "api/HttpRequest.h"
#include "link/FrameTrace.h"

#ifndef DPX20_VERSION
#define DPX20_VERSION "unknown"
#endif

// The OpenAPI document and the web page are resources of this static library; a program that
// links it keeps them only when asked by name.
static void InitApiResources() {
    Q_INIT_RESOURCE(http);
    Q_INIT_RESOURCE(web);
}

namespace dpx::api {
namespace {

constexpr std::size_t kTokenBytes = 32;
constexpr qint64 kSettingGapMs = 1000 / ApiServer::kSettingEventsPerSecond;
// What a connection may hold unread: a whole request at its limits, chunked with some room.
constexpr qint64 kReadBufferLimit = static_cast<qint64>(ApiServer::kHeadLimit + 2 * kBodyLimit);
// After a refusal, what comes is read and dropped until the client has been quiet this long
// (then the connection is closed), at most kDrainLimit bytes and kFirstRequestMs (then it is
// cut).
constexpr int kDrainQuietMs = 200;
constexpr qint64 kDrainLimit = 1024 * 1024;
// Connections the system holds for the server before it takes them.
constexpr int kListenBacklog = 512;
// The WebSocket subprotocol the page asks for; beside it, "bearer.TOKEN" carries the token,
// which a browser cannot send in a header of its WebSocket.
constexpr char kSubprotocol[] = "dpx20remote";
constexpr std::string_view kBearerSubprotocol = "bearer.";
// What every answer allows a browser: the page's own files and requests, no inline script or
// style, no frame of it in another page.
constexpr char kSecurityHeaders[] =
    "X-Content-Type-Options: nosniff\r\n"
    "Content-Security-Policy: default-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'\r\n"
    "Referrer-Policy: no-referrer\r\n";

bool ValidToken(const std::string& token) {
    return token.size() == 2 * kTokenBytes && token.find_first_not_of("0123456789abcdef") == std::string::npos;
}

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

// The head and body of one answer. `head_only` (HEAD) leaves the body out; `close` says that
// the connection ends after it.
QByteArray Encode(const Response& response, bool head_only, bool close) {
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + ReasonPhrase(response.status) + "\r\n";
    out += "Content-Type: " +
           (response.content_type.empty() ? QByteArray("application/json") : QByteArray::fromStdString(response.content_type)) +
           "\r\nCache-Control: no-store\r\n" + kSecurityHeaders;
    out += "Content-Length: " + QByteArray::number(static_cast<qsizetype>(response.body.size())) + "\r\n";
    if (response.status == 401) out += "WWW-Authenticate: Bearer\r\n";
    if (response.status == 503) out += "Retry-After: 1\r\n";
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

std::string WriteToken(const QString& name, std::string* why) {
    QDir().mkpath(QFileInfo(name).path());
    std::array<quint32, kTokenBytes / 4> random{};
    QRandomGenerator::system()->fillRange(random.data(), random.size());
    const QByteArray token =
        QByteArray(reinterpret_cast<const char*>(random.data()), static_cast<qsizetype>(kTokenBytes)).toHex();
    // A temporary file beside it, readable by the user alone before the token goes in, takes
    // the name once it is whole: a reader sees the old token or the new one.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(token + '\n') != token.size() + 1 || !file.commit()) {
        *why = "cannot write the token file " + name.toStdString() + ": " + file.errorString().toStdString();
        return {};
    }
    return token.toStdString();
}

// The token of a WebSocket upgrade's "Sec-WebSocket-Protocol: dpx20remote, bearer.TOKEN" as an
// Authorization header, or empty.
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

// The file of the web page a GET of `path` asks for ("/" is index.html), with its type; nothing
// when the path names none.
std::optional<Response> PageFile(const std::string& path) {
    static const QRegularExpression kName(QStringLiteral("^/([a-z0-9-]+\\.(html|css|js|svg))?$"));
    const QRegularExpressionMatch m = kName.match(QString::fromStdString(path));
    if (!m.hasMatch()) return std::nullopt;
    const QString name = m.captured(1).isEmpty() ? QStringLiteral("index.html") : m.captured(1);
    QFile file(QStringLiteral(":/dpx20remote/web/") + name);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    static const std::map<QString, std::string> kTypes = {
        {QStringLiteral("html"), "text/html; charset=utf-8"},
        {QStringLiteral("css"), "text/css; charset=utf-8"},
        {QStringLiteral("js"), "text/javascript; charset=utf-8"},
        {QStringLiteral("svg"), "image/svg+xml"},
    };
    Response page;
    page.body = file.readAll().toStdString();
    page.content_type = kTypes.at(name.section(QLatin1Char('.'), -1));
    return page;
}

// The modification time of the token file, to tell when another program replaced it.
qint64 TokenStamp() {
    const QFileInfo info(QString::fromStdString(TokenFile()));
    return info.exists() ? info.lastModified().toMSecsSinceEpoch() ^ (info.size() << 48) : 0;
}

}  // namespace

// ---------------------------------------------------------------- listen address and token

bool ParseListenAddress(const std::string& address, ListenAddress* out, std::string* why) {
    ListenAddress a;
    std::string port = address;
    if (!address.empty() && address.front() == '[') {
        const std::size_t close = address.find("]:");
        if (close == std::string::npos) {
            *why = "an IPv6 address is written [ADDRESS]:PORT: " + address;
            return false;
        }
        a.host = address.substr(1, close - 1);
        port = address.substr(close + 2);
    } else if (const std::size_t colon = address.rfind(':'); colon != std::string::npos) {
        a.host = address.substr(0, colon);
        port = address.substr(colon + 1);
        if (a.host.find(':') != std::string::npos) {
            *why = "an IPv6 address is written [ADDRESS]:PORT: " + address;
            return false;
        }
    }
    if (a.host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stol(port) > 65535) {
        *why = "the control API's address is [HOST:]PORT with a port 0 to 65535: " + address;
        return false;
    }
    if (a.host == "localhost") a.host = "127.0.0.1";
    a.port = static_cast<uint16_t>(std::stol(port));
    *out = a;
    return true;
}

std::string TokenFile() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("dpx20remote/api-token"))
        .toStdString();
}

std::string LoadOrMakeToken(std::string* why, std::string* warning) {
    const QString name = QString::fromStdString(TokenFile());
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        if (QFile::exists(name)) {
            *why = "cannot read the token file " + name.toStdString() + ": " + file.errorString().toStdString();
            return {};
        }
        return WriteToken(name, why);
    }
    const std::string token = file.readAll().trimmed().toStdString();
    if (!ValidToken(token)) {
        *why = "the token file " + name.toStdString() +
               " does not hold a token; remove it or run \"dpx20ctl token --new\" to have a new one made";
        return {};
    }
#ifndef Q_OS_WIN  // Windows tells no owner-only rights this way; the folder is the user's own
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                            QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if ((file.permissions() & others) != 0) {
        const std::string fresh = WriteToken(name, why);
        if (!fresh.empty() && warning)
            *warning = "the token file " + name.toStdString() +
                       " could be read by other users; it holds a new token now, which clients must send";
        return fresh;
    }
#else
    (void)warning;
#endif
    return token;
}

std::string MakeNewToken(std::string* why) { return WriteToken(QString::fromStdString(TokenFile()), why); }

// ---------------------------------------------------------------- connections

// Takes each connection at once, so that the queue of pending ones never fills and stops the
// port from accepting; with TLS the socket starts its handshake.
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
                if (tls->isEncrypted() || handshake_failure_told_) return;
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
        if (server_.tls_) static_cast<QSslSocket*>(socket)->startServerEncryption();
        server_.Admit(socket);
    }

private:
    ApiServer& server_;
    bool handshake_failure_told_ = false;
};

// One HTTP connection: reads requests from the front of what its socket received (peeked,
// so that an upgrade leaves the socket's bytes to the WebSocket server), answers each before
// the next is read, and closes when the client or the request asks, on a refusal that leaves
// the stream unreadable, or when its time runs out. A child of its socket.
class ApiServer::Connection final : public QObject {
public:
    Connection(ApiServer& server, QTcpSocket* socket, std::optional<Response> refusal)
        : QObject(socket), server_(server), socket_(socket), peer_(socket->peerAddress()), refusal_(std::move(refusal)) {
        socket_->setReadBufferSize(kReadBufferLimit);
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this, [this] { TimeUp(); });
        timer_.start(kFirstRequestMs);
        connect(socket_, &QTcpSocket::disconnected, socket_, &QObject::deleteLater);
        connect(socket_, &QTcpSocket::readyRead, this, [this] { Read(); });
        if (auto* tls = qobject_cast<QSslSocket*>(socket_); tls && !tls->isEncrypted())
            connect(tls, &QSslSocket::encrypted, this, [this] { Start(); });
        else
            QMetaObject::invokeMethod(this, [this] { Start(); }, Qt::QueuedConnection);
    }
    ~Connection() override { server_.Forget(this); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const QHostAddress& Peer() const { return peer_; }
    // Has sent a whole request (with the token, where one is asked for) and keeps its place.
    bool Proven() const { return proven_; }
    bool Counted() const { return !refusal_; }
    void Evict() {
        server_.Forget(this);
        timer_.stop();
        socket_->abort();
    }

private:
    void Start() {
        if (refusal_) return Refuse(*refusal_);
        Read();
    }

    // Answers a request that could not be read (or a connection that has no place) and
    // closes once the client has had the time to read the answer.
    void Refuse(const Response& response) {
        closing_ = true;
        if (socket_->state() != QAbstractSocket::ConnectedState) return;
        socket_->write(Encode(response, false, true));
        socket_->flush();
        draining_ = true;
        draining_since_.start();
        timer_.start(kDrainQuietMs);
        Read();
    }

    void Read() {
        if (draining_) {
            // What comes after a refusal is read and dropped, so that closing does not reset the
            // connection before the client has read the answer.
            drained_ += socket_->skip(socket_->bytesAvailable());
            if (drained_ > kDrainLimit || draining_since_.elapsed() > kFirstRequestMs) socket_->abort();
            else timer_.start(kDrainQuietMs);
            return;
        }
        if (handling_ || closing_ || refusal_) return;
        while (socket_->state() == QAbstractSocket::ConnectedState && !closing_) {
            const QByteArray bytes = socket_->peek(socket_->bytesAvailable());
            if (bytes.isEmpty()) return;
            if (auto* tls = qobject_cast<QSslSocket*>(socket_); tls && !tls->isEncrypted()) return;
            http::ParseResult parsed =
                http::ParseRequest(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                                   kHeadLimit, kBodyLimit);
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

    // Hands one whole request to the server; true when it was answered at once and the next
    // one may be read, false when the answer comes later (Answered reads on) or the
    // connection is done with.
    bool Handle(const http::ParseResult& parsed) {
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
        if (request.websocket && request.authorization.empty())
            request.authorization = SubprotocolBearer(h.Header("sec-websocket-protocol"));
        timer_.stop();
        handling_ = true;
        in_handle_ = true;
        read_on_ = false;
        const Asked asked{parsed.consumed, h.keep_alive, h.method == "HEAD", request.websocket};
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

    // What Answered needs of the request it answers.
    struct Asked {
        std::size_t consumed;
        bool keep_alive;
        bool head_only;
        bool websocket;
    };

    void Answered(const Asked& asked, const Response& response) {
        handling_ = false;
        if (socket_->state() != QAbstractSocket::ConnectedState) return;  // the client left meanwhile
        if (response.status == kSwitchingProtocols) {
            // The WebSocket server reads the upgrade request itself.
            closing_ = true;
            server_.Upgrade(socket_);
            deleteLater();
            return;
        }
        socket_->skip(static_cast<qint64>(asked.consumed));
        // Without the token a connection keeps no place; what it sends next is not read.
        const bool refused_entry = response.status == 401 || response.status == 403;
        if (!refused_entry) proven_ = true;
        if (!asked.keep_alive || refused_entry || asked.websocket) return Finish(response, asked.head_only);
        socket_->write(Encode(response, asked.head_only, false));
        socket_->flush();
        timer_.start(kKeepAliveMs);
        // A pipelined request may wait in the socket already.
        if (in_handle_) read_on_ = true;
        else QMetaObject::invokeMethod(this, [this] { Read(); }, Qt::QueuedConnection);
    }

    // The last answer: written, then the connection closes.
    void Finish(const Response& response, bool head_only) {
        closing_ = true;
        timer_.stop();
        if (socket_->state() != QAbstractSocket::ConnectedState) return;
        socket_->write(Encode(response, head_only, true));
        socket_->disconnectFromHost();
        // A client that does not take the answer is not waited for long.
        QTimer::singleShot(kFirstRequestMs, socket_, &QTcpSocket::abort);
    }

    void TimeUp() {
        if (handling_) return;
        if (draining_) return socket_->disconnectFromHost();
        if (socket_->bytesAvailable() > 0) return Refuse(Refusal(408, "the request did not come whole in time"));
        socket_->abort();
    }

    ApiServer& server_;
    QTcpSocket* socket_;
    QHostAddress peer_;
    std::optional<Response> refusal_;
    QTimer timer_;
    bool proven_ = false;
    bool handling_ = false;  // a request is being answered: nothing more is read meanwhile
    bool in_handle_ = false;
    bool read_on_ = false;   // answered within Handle: the next request may be read
    bool closing_ = false;
    bool draining_ = false;
    QElapsedTimer draining_since_;
    qint64 drained_ = 0;
};

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
            // Windows' TLS (Schannel) takes a server key only this way.
            QFile bundle(QString::fromStdString(cert_file_));
            QSslCertificate certificate;
            QList<QSslCertificate> more;
            if (!bundle.open(QIODevice::ReadOnly) || !QSslCertificate::importPkcs12(&bundle, &key, &certificate, &more)) {
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
        if (!key_file_.empty() && QSslSocket::activeBackend() == QLatin1String("schannel"))
            Warn("Windows' TLS (Schannel) may refuse a PEM key for a server; when the handshake fails, give the "
                 "certificate and key as one PKCS#12 file without a passphrase (--api-cert FILE.p12)");
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
        token_stamp_ = TokenStamp();
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

std::string ApiServer::Url() const {
    if (port_ == 0) return {};
    const QString host = address_.protocol() == QAbstractSocket::IPv6Protocol ? '[' + address_.toString() + ']'
                                                                              : address_.toString();
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
    const QHostAddress peer = socket->peerAddress();
    // A place held by a connection that has not sent a whole request is given to the new one.
    const auto make_room = [this](auto&& counts) {
        for (Connection* c : connections_) {
            if (counts(c) && !c->Proven()) {
                c->Evict();  // its destruction takes it out of the list
                return true;
            }
        }
        return false;
    };
    const auto same_peer = [&peer](const Connection* c) { return c->Peer().isEqual(peer); };
    const auto any = [](const Connection*) { return true; };
    std::optional<Response> refusal;
    const auto from_peer = std::count_if(connections_.begin(), connections_.end(), same_peer);
    if (from_peer >= kMaxPerPeer && !make_room(same_peer))
        refusal = Refusal(503, "busy: " + std::to_string(kMaxPerPeer) + " connections from this address are open");
    else if (static_cast<int>(connections_.size()) >= kMaxConnections && !make_room(any))
        refusal = Refusal(503, "busy: " + std::to_string(kMaxConnections) + " connections are open");
    auto* connection = new Connection(*this, socket, std::move(refusal));
    if (connection->Counted()) connections_.push_back(connection);
}

void ApiServer::Forget(Connection* connection) { connections_.remove(connection); }

void ApiServer::Upgrade(QTcpSocket* socket) {
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
    upgrading_.push_back(socket);
    websockets_.handleConnection(socket);
}

// ---------------------------------------------------------------- requests

void ApiServer::RefreshToken() {
    const qint64 stamp = TokenStamp();
    if (stamp == token_stamp_) return;
    std::string why, warning;
    const std::string token = LoadOrMakeToken(&why, &warning);
    if (!warning.empty()) Warn(warning);
    if (token.empty()) {
        Warn("the token file cannot be read; the token in use stays: " + why);
        token_stamp_ = stamp;
        return;
    }
    token_stamp_ = TokenStamp();
    token_ = token;
    api_.SetAccess({token, false});
}

std::string ApiServer::Authorization() {
    if (!token_required_) return {};
    RefreshToken();
    return "Bearer " + token_;
}

void ApiServer::Answer(const Connection& connection, const Request& request, const Endpoint::Reply& reply) {
    if (token_required_) RefreshToken();
    if (std::optional<Response> local = AnswerLocally(request, connection.Peer().isLoopback())) return reply(*local);
    api_.Handle(request, [this, reply](Response response) {
        if (response.status == kSwitchingProtocols && EventClients() >= kMaxEventClients)
            response = Refusal(503, "busy: " + std::to_string(kMaxEventClients) + " event clients are connected");
        reply(std::move(response));
    });
}

// The web page's files, which hold nothing secret (the page asks for the token where one is
// needed), GET /health and GET /openapi.json, which a monitor asks for without the token on this
// computer.
std::optional<Response> ApiServer::AnswerLocally(const Request& request, bool loopback_peer) {
    const std::string base = kBasePath;
    if (request.path.rfind(base, 0) != 0) {
        std::optional<Response> page = PageFile(request.path);
        if (page && request.method != "GET") {
            Response refused = Refusal(405, request.path + " takes GET, not " + request.method);
            refused.allow = "GET";
            return refused;
        }
        if (page) return page;
    }
    const bool health = request.path == base + "/health";
    if (!health && request.path != base + "/openapi.json") return std::nullopt;
    if (request.method != "GET") {
        Response refused = Refusal(405, request.path + " takes GET, not " + request.method);
        refused.allow = "GET";
        return refused;
    }
    if (token_required_ && !loopback_peer && !BearerMatches(request.authorization, token_))
        return Refusal(401, "a token is needed: \"Authorization: Bearer TOKEN\"");
    if (!health) {
        QFile document(QStringLiteral(":/dpx20remote/openapi.json"));
        if (!document.open(QIODevice::ReadOnly)) return Refusal(404, "the OpenAPI document is not built in");
        return Response{200, document.readAll().toStdString(), {}, {}};
    }
    // One box's state, or those of every box a service serves.
    const Json state = api_.State();
    const Json* several = state.Find("boxes");
    Json boxes = Json::Array();
    std::vector<const Json*> states;
    if (several) for (const Json& item : several->Items()) states.push_back(&item);
    else states.push_back(&state);
    for (const Json* one : states) {
        Json box = Json::Object();
        for (const char* field : {"box", "label", "location", "device", "port_kind", "connected", "connection", "logged_in", "start_error"})
            if (const Json* value = one->Find(field)) box.Set(field, *value);
        boxes.Push(std::move(box));
    }
    Json answer = Json::Object();
    answer.Set("version", kVersion).Set("ok", true).Set("error", Json()).Set("result", Json()).Set("meaning", Json());
    answer.Set("program", QCoreApplication::applicationName().toStdString())
        .Set("program_version", DPX20_VERSION)
        .Set("host", !states.empty() && states.front()->Find("host") ? *states.front()->Find("host") : Json())
        .Set("uptime_s", clock_.elapsed() / 1000)
        .Set("tls", tls_.has_value())
        .Set("event_clients", EventClients())
        .Set("boxes", std::move(boxes));
    return Response{200, answer.Dump(), {}, {}};
}

// ---------------------------------------------------------------- events

void ApiServer::TakeEventClients() {
    while (websockets_.hasPendingConnections()) {
        QWebSocket* client = websockets_.nextPendingConnection();
        if (!client) break;
        client->setParent(this);
        // The WebSocket uses the socket it was upgraded from until its end: it owns it now.
        upgrading_.erase(std::remove(upgrading_.begin(), upgrading_.end(), nullptr), upgrading_.end());
        for (auto it = upgrading_.begin(); it != upgrading_.end(); ++it) {
            if ((*it)->peerPort() == client->peerPort() && (*it)->peerAddress() == client->peerAddress()) {
                (*it)->setParent(client);
                upgrading_.erase(it);
                break;
            }
        }
        // Clients only listen; what they send is read and dropped.
        client->setMaxAllowedIncomingFrameSize(1024);
        client->setMaxAllowedIncomingMessageSize(1024);
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            clients_.erase(client);
            client->deleteLater();
            if (clients_.empty()) ping_timer_.stop();  // an idle server sleeps
        });
        connect(client, &QWebSocket::pong, this, [this, client] {
            if (const auto it = clients_.find(client); it != clients_.end()) it->second.answered_ping = true;
        });
        // /events?box=NAME or /boxes/NAME/events: one box's events of a service of several.
        EventClient events;
        const QUrl url = client->requestUrl();
        events.box = QUrlQuery(url).queryItemValue(QStringLiteral("box")).toStdString();
        static const QRegularExpression kBoxPath(QStringLiteral("/boxes/([^/]+)/events$"));
        if (const QRegularExpressionMatch m = kBoxPath.match(url.path()); m.hasMatch()) events.box = m.captured(1).toStdString();
        clients_[client] = events;
        if (!ping_timer_.isActive()) ping_timer_.start();
        Json state = api_.State();
        if (const Json* boxes = state.Find("boxes"); boxes && !events.box.empty()) {
            std::optional<Json> picked;  // copied out before the state is replaced
            for (const Json& one : boxes->Items())
                if (const Json* name = one.Find("box"); name && name->Text() == events.box) picked = one;
            if (picked) state = std::move(*picked);
        }
        // Its source is the host: the one box's, or that of the first of several.
        const Json* host = state.Find("host");
        if (const Json* boxes = state.Find("boxes"); !host && boxes && !boxes->Items().empty())
            host = boxes->Items().front().Find("host");
        const Json source = host ? *host : Json("service");  // copied before the state grows
        state.Set("event", "state").Set("source", source).Set("time", FrameTrace::IsoTime(FrameTrace::WallMs()));
        Send(client, QString::fromStdString(state.Dump()));
    }
}

void ApiServer::Send(QWebSocket* client, const QString& text) {
    if (client->bytesToWrite() > kEventBacklogLimit) {
        client->abort();  // it stopped reading; disconnected() removes it
        return;
    }
    client->sendTextMessage(text);
    client->flush();
}

void ApiServer::Broadcast(const std::string& json) {
    const QString text = QString::fromStdString(json);
    std::string why;
    const std::optional<Json> event = ParseJson(json, &why);
    const Json* name = event ? event->Find("event") : nullptr;
    const Json* key = event ? event->Find("key") : nullptr;
    const bool setting = name && name->Text() == "setting" && key;
    const qint64 now = clock_.elapsed();
    const Json* box = event ? event->Find("box") : nullptr;
    for (auto& [client, state] : std::map<QWebSocket*, EventClient>(clients_)) {
        if (!clients_.count(client)) continue;  // dropped meanwhile
        if (!state.box.empty() && box && box->Text() != state.box) continue;
        if (!setting) {
            Send(client, text);
            continue;
        }
        PendingSetting& pending = clients_[client].settings[key->Text()];
        if (!pending.due && now - pending.sent_ms >= kSettingGapMs) {
            pending.sent_ms = now;
            Send(client, text);
            continue;
        }
        // Held back: the latest value goes out when the gap has passed, with the value this
        // client saw before the burst as its previous one.
        if (!pending.due) pending.previous = event->Find("previous") ? event->Find("previous")->Dump() : "null";
        pending.due = json;
        if (!due_timer_.isActive()) due_timer_.start(static_cast<int>(std::max<qint64>(1, pending.sent_ms + kSettingGapMs - now)));
    }
}

void ApiServer::SendDueSettings() {
    const qint64 now = clock_.elapsed();
    qint64 next = -1;
    for (auto& [client, state] : std::map<QWebSocket*, EventClient>(clients_)) {
        if (!clients_.count(client)) continue;
        for (auto& [key, pending] : clients_[client].settings) {
            if (!pending.due) continue;
            if (now - pending.sent_ms < kSettingGapMs) {
                const qint64 wait = pending.sent_ms + kSettingGapMs - now;
                next = next < 0 ? wait : std::min(next, wait);
                continue;
            }
            std::string why;
            const std::optional<Json> latest = ParseJson(*pending.due, &why);
            const std::optional<Json> previous = ParseJson(pending.previous.value_or("null"), &why);
            pending.due.reset();
            pending.sent_ms = now;
            if (!latest || !previous) continue;
            Json event = Json::Object();
            for (std::size_t i = 0; i < latest->Keys().size(); ++i)
                event.Set(latest->Keys()[i], latest->Keys()[i] == "previous" ? *previous : latest->Items()[i]);
            Send(client, QString::fromStdString(event.Dump()));
            if (!clients_.count(client)) break;
        }
    }
    if (next >= 0) due_timer_.start(static_cast<int>(std::max<qint64>(1, next)));
}

void ApiServer::PingClients() {
    for (auto& [client, state] : std::map<QWebSocket*, EventClient>(clients_)) {
        auto it = clients_.find(client);
        if (it == clients_.end()) continue;
        if (!it->second.answered_ping) {
            client->abort();  // no pong since the last ping: the client is gone
            continue;
        }
        it->second.answered_ping = false;
        client->ping();
    }
}

}  // namespace dpx::api
