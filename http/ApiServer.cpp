#include "http/ApiServer.h"

#include <QDir>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <array>
#include <cstdlib>

#include "api/ControlApi.h"

namespace dpx::api {
namespace {

// Keeps one HTTP connection within its share: the bytes of the request being read and the
// time a whole request may take. Lives as a child of its socket.
class RequestGuard final : public QObject {
public:
    RequestGuard(QTcpSocket* socket, int& open) : QObject(socket), open_(open) {
        ++open_;
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, socket, &QTcpSocket::abort);
        timer_.start(ApiServer::kRequestTimeoutMs);
        // Connected before the HTTP server's own slot, so it sees the bytes first.
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            received_ += socket->bytesAvailable();
            if (received_ > ApiServer::kRequestByteLimit)
                QMetaObject::invokeMethod(socket, &QTcpSocket::abort, Qt::QueuedConnection);
        });
    }
    ~RequestGuard() override { --open_; }
    RequestGuard(const RequestGuard&) = delete;
    RequestGuard& operator=(const RequestGuard&) = delete;

    // A whole request came: the next one has its own share.
    void RequestDone() {
        received_ = 0;
        timer_.start(ApiServer::kRequestTimeoutMs);
    }

private:
    int& open_;
    QTimer timer_;
    qint64 received_ = 0;
};

// Puts a guard on each connection and turns away those beyond the limit.
class GuardedServer final : public QTcpServer {
public:
    GuardedServer(int& open, QObject* parent) : QTcpServer(parent), open_(open) {}

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor) || open_ >= ApiServer::kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        new RequestGuard(socket, open_);
        addPendingConnection(socket);
    }

private:
    int& open_;
};

// The guard has no meta-object of its own, so findChild() cannot tell it from the socket's
// other children.
RequestGuard* GuardOf(QTcpSocket* socket) {
    for (QObject* child : socket->children())
        if (auto* guard = dynamic_cast<RequestGuard*>(child)) return guard;
    return nullptr;
}

const char* MethodName(QHttpServerRequest::Method method) {
    switch (method) {
        case QHttpServerRequest::Method::Get: return "GET";
        case QHttpServerRequest::Method::Put: return "PUT";
        case QHttpServerRequest::Method::Delete: return "DELETE";
        case QHttpServerRequest::Method::Post: return "POST";
        case QHttpServerRequest::Method::Head: return "HEAD";
        case QHttpServerRequest::Method::Options: return "OPTIONS";
        case QHttpServerRequest::Method::Patch: return "PATCH";
        case QHttpServerRequest::Method::Connect: return "CONNECT";
        case QHttpServerRequest::Method::Trace: return "TRACE";
        default: return "UNKNOWN";
    }
}

constexpr std::size_t kTokenBytes = 32;

bool ValidToken(const std::string& token) {
    return token.size() == 2 * kTokenBytes && token.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

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

std::string LoadOrMakeToken(std::string* why) {
    const QString name = QString::fromStdString(TokenFile());
    const QFileDevice::Permissions owner_only = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    for (int attempt = 0; attempt < 2; ++attempt) {
        QFile file(name);
        if (file.open(QIODevice::ReadOnly)) {
            const std::string token = file.readAll().trimmed().toStdString();
            if (ValidToken(token)) {
                if ((file.permissions() & ~(owner_only | QFileDevice::ReadUser | QFileDevice::WriteUser)) != 0)
                    file.setPermissions(owner_only);  // kept from others, as when it was made
                return token;
            }
            *why = "the token file " + name.toStdString() + " does not hold a token; remove it to have a new one made";
            return {};
        }
        QDir().mkpath(QFileInfo(name).path());
        std::array<quint32, kTokenBytes / 4> random{};
        QRandomGenerator::system()->fillRange(random.data(), random.size());
        const QByteArray token =
            QByteArray(reinterpret_cast<const char*>(random.data()), static_cast<qsizetype>(kTokenBytes)).toHex();
        // Made readable by the user alone before the token goes in; another program making it
        // at the same moment wins, and its token is read on the next round.
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, owner_only)) {
            if (file.write(token + '\n') == token.size() + 1 && file.flush()) return token.toStdString();
            file.remove();
            *why = "cannot write the token file " + name.toStdString() + ": " + file.errorString().toStdString();
            return {};
        }
        if (file.error() != QFileDevice::OpenError || !QFile::exists(name)) {
            *why = "cannot make the token file " + name.toStdString() + ": " + file.errorString().toStdString();
            return {};
        }
    }
    *why = "cannot read the token file " + name.toStdString();
    return {};
}

ApiServer::ApiServer(ControlApi& api, QObject* parent) : QAbstractHttpServer(parent), api_(api) {
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &ApiServer::TakeEventClients);
    api_.on_event = [this](const std::string& json) { Broadcast(json); };
}

ApiServer::~ApiServer() {
    api_.on_event = nullptr;
    Close();
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
    Access access;
    access.loopback = address.isLoopback();
    if (!access.loopback) {
        access.token = LoadOrMakeToken(why);
        if (access.token.empty()) return false;
    }
    auto* server = new GuardedServer(connections_, this);
    if (!server->listen(address, a.port)) {
        *why = "cannot listen on " + where + ": " + server->errorString().toStdString();
        delete server;
        return false;
    }
    bind(server);
    api_.SetAccess(access);
    address_ = address;
    port_ = server->serverPort();
    token_required_ = !access.token.empty();
    return true;
}

std::string ApiServer::Url() const {
    if (port_ == 0) return {};
    const QString host = address_.protocol() == QAbstractSocket::IPv6Protocol ? '[' + address_.toString() + ']'
                                                                              : address_.toString();
    return QStringLiteral("http://%1:%2").arg(host).arg(port_).toStdString() + kBasePath;
}

void ApiServer::Soon(std::function<void()> work) {
    const bool scheduled = static_cast<bool>(due_);
    due_ = std::move(work);
    if (!scheduled) QTimer::singleShot(0, this, &ApiServer::RunDue);
}

void ApiServer::RunDue() {
    if (!due_) return;
    const std::function<void()> work = std::move(due_);
    due_ = nullptr;
    work();
}

void ApiServer::Close() {
    RunDue();
    for (QTcpServer* server : servers()) delete server;  // its connections with it
    for (QWebSocket* client : clients_) {
        client->abort();
        client->deleteLater();
    }
    clients_.clear();
    port_ = 0;
}

bool ApiServer::handleRequest(const QHttpServerRequest& r, QTcpSocket* socket) {
    RequestGuard* guard = GuardOf(socket);
    if (guard) guard->RequestDone();
    Request request;
    request.method = MethodName(r.method());
    request.path = r.url().path().toStdString();
    request.body = r.body().toStdString();
    request.authorization = r.value("authorization").toStdString();
    request.origin = r.value("origin").toStdString();
    request.host = r.value("host").toStdString();
    // As the HTTP server tells an upgrade, which it hands on when this returns true.
    request.websocket = r.value("connection").toLower().contains("upgrade") &&
                        r.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
    Response response = api_.Handle(request);
    if (request.websocket) {
        if (response.status == kSwitchingProtocols && EventClients() >= kMaxEventClients)
            response = {503, Json::Object().Set("version", kVersion).Set("ok", false)
                                 .Set("error", "busy: too many event clients").Dump()};
        if (response.status == kSwitchingProtocols) {
            delete guard;  // the WebSocket server has the connection now
            return true;
        }
        refused_status_ = response.status;
        refused_body_ = std::move(response.body);
        return false;  // missingHandler answers, then the server closes the connection
    }
    Write(r, socket, response.status, response.body);
    return true;
}

void ApiServer::missingHandler(const QHttpServerRequest& r, QTcpSocket* socket) {
    if (refused_status_ == 0) {
        refused_status_ = 404;
        refused_body_ = api_.Handle({MethodName(r.method()), "/", {}, {}, {}, {}, false}).body;
    }
    Write(r, socket, refused_status_, refused_body_);
    refused_status_ = 0;
    refused_body_.clear();
}

void ApiServer::Write(const QHttpServerRequest& r, QTcpSocket* socket, int status, const std::string& body) {
    if (socket->state() != QAbstractSocket::ConnectedState) return;  // the client left meanwhile
    QHttpServerResponder responder = makeResponder(r, socket);
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(status));
    responder.writeHeader("Content-Type", "application/json");
    responder.writeHeader("Cache-Control", "no-store");
    if (status == 401) responder.writeHeader("WWW-Authenticate", "Bearer");
    responder.writeHeader("Content-Length", QByteArray::number(static_cast<qsizetype>(body.size())));
    responder.writeBody(body.data(), static_cast<qint64>(body.size()));
    socket->flush();  // out before any work left for later (Soon) runs
}

void ApiServer::TakeEventClients() {
    while (hasPendingWebSocketConnections()) {
        QWebSocket* client = nextPendingWebSocketConnection().release();
        if (!client) break;
        client->setParent(this);
        // Clients only listen; what they send is read and dropped.
        client->setMaxAllowedIncomingFrameSize(1024);
        client->setMaxAllowedIncomingMessageSize(1024);
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
            client->deleteLater();
        });
        clients_.push_back(client);
        client->sendTextMessage(QString::fromStdString(api_.State().Set("event", "state").Dump()));
        client->flush();
    }
}

void ApiServer::Broadcast(const std::string& json) {
    const QString text = QString::fromStdString(json);
    for (QWebSocket* client : std::vector<QWebSocket*>(clients_)) {
        if (client->bytesToWrite() > kEventBacklogLimit) {
            client->abort();  // it stopped reading; disconnected() removes it
            continue;
        }
        client->sendTextMessage(text);
        client->flush();
    }
}

}  // namespace dpx::api
