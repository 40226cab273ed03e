#include "emberd/EmberServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>

#include "http/ApiServer.h"

namespace dpx::ember {

EmberServer::EmberServer(api::Endpoint& endpoint, Provider::Options options, QObject* parent)
    : QObject(parent), provider_(endpoint, std::move(options)) {
    provider_.send = [this](int id, const std::string& bytes) { Send(id, bytes); };
    // Closed once the provider has returned, never inside its own call.
    provider_.close = [this](int id, const std::string& why) {
        QMetaObject::invokeMethod(this, [this, id, why] { Drop(id, why); }, Qt::QueuedConnection);
    };
    connect(&listener_, &QTcpServer::newConnection, this, &EmberServer::Accept);
    keep_alive_.setInterval(kKeepAliveMs);
    connect(&keep_alive_, &QTimer::timeout, this, &EmberServer::KeepAlive);
}

EmberServer::~EmberServer() {
    alive_.reset();
    Close();
}

void EmberServer::TakePost(api::Endpoint& endpoint) {
    endpoint.SetPost([alive = std::weak_ptr<int>(alive_)](std::function<void()> work) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [alive, work = std::move(work)] {
                if (!alive.expired()) work();
            },
            Qt::QueuedConnection);
    });
}

qint64 EmberServer::Now() const { return QDateTime::currentMSecsSinceEpoch(); }

void EmberServer::Warn(const std::string& text) const {
    if (on_warning) return on_warning(text);
    std::fprintf(stderr, "%s: warning: %s\n", QCoreApplication::applicationName().toLocal8Bit().constData(), text.c_str());
    std::fflush(stderr);
}

bool EmberServer::Listen(const std::string& where, std::string* why) {
    Close();
    api::ListenAddress a;
    std::string ignored;
    if (!api::ParseListenAddress(where, &a, &ignored) && !api::ParseListenAddress(where + ":" + std::to_string(kDefaultPort), &a, why))
        return false;
    QHostAddress address(QString::fromStdString(a.host));
    if (address.isNull()) {
        *why = "not an address: " + a.host;
        return false;
    }
    if (!listener_.listen(address, a.port)) {
        *why = "cannot listen on " + where + ": " + listener_.errorString().toStdString();
        return false;
    }
    if (!address.isLoopback())
        Warn("Ember+ has no authentication: whoever reaches " + Address() +
             " can read and change every box; serve it on a network only trusted consumers reach");
    keep_alive_.start();
    return true;
}

std::string EmberServer::Address() const {
    if (!listener_.isListening()) return {};
    const QHostAddress a = listener_.serverAddress();
    const std::string host = a.toString().toStdString();
    return (a.protocol() == QAbstractSocket::IPv6Protocol ? "[" + host + "]" : host) + ":" + std::to_string(listener_.serverPort());
}

void EmberServer::Close() {
    listener_.close();
    keep_alive_.stop();
    while (!sockets_.empty()) Drop(sockets_.begin()->first, "closing");
}

void EmberServer::Accept() {
    while (QTcpSocket* socket = listener_.nextPendingConnection()) {
        if (static_cast<int>(sockets_.size()) >= kMaxConsumers) {
            Warn("an Ember+ consumer from " + socket->peerAddress().toString().toStdString() + " was refused: " +
                 std::to_string(kMaxConsumers) + " are served already");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const int id = next_id_++;
        socket->setParent(this);
        // Answers are small and each is awaited: no waiting for more to fill a segment.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        sockets_[id] = {socket, Now()};
        provider_.Add(id);
        // What came is handled from the event loop, not inside the socket's signal: a request
        // may wait for the box, and meanwhile this socket may go away.
        connect(socket, &QTcpSocket::readyRead, this, [this, id, socket] {
            const QByteArray bytes = socket->readAll();
            if (auto it = sockets_.find(id); it != sockets_.end()) it->second.heard_ms = Now();
            QMetaObject::invokeMethod(
                this, [this, id, bytes] { provider_.Receive(id, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))); },
                Qt::QueuedConnection);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { Drop(id, {}); });
    }
}

void EmberServer::Drop(int id, const std::string& why) {
    const auto it = sockets_.find(id);
    if (it == sockets_.end()) return;
    QPointer<QTcpSocket> socket = it->second.socket;
    sockets_.erase(it);
    provider_.Remove(id);
    if (!why.empty() && why != "closing" && socket)
        Warn("Ember+ consumer " + socket->peerAddress().toString().toStdString() + " closed: " + why);
    if (socket) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void EmberServer::Send(int id, const std::string& bytes) {
    const auto it = sockets_.find(id);
    if (it == sockets_.end() || !it->second.socket) return;
    QTcpSocket* socket = it->second.socket;
    socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (socket->bytesToWrite() > kBacklogLimit) {
        socket->disconnect(this);  // nothing more is read or sent
        QMetaObject::invokeMethod(this, [this, id] { Drop(id, "left over 1 MiB unread"); }, Qt::QueuedConnection);
    }
}

void EmberServer::KeepAlive() {
    const qint64 now = Now();
    std::vector<int> silent;
    for (auto& [id, peer] : sockets_) {
        if (now - peer.heard_ms >= kSilentMs) silent.push_back(id);
        else if (now - peer.heard_ms >= kKeepAliveMs - 100 && peer.socket) Send(id, KeepAliveRequest());
    }
    for (int id : silent) Drop(id, "silent for " + std::to_string(kSilentMs / 1000) + " s");
}

std::unique_ptr<EmberServer> StartEmber(api::Endpoint& endpoint, api::ApiServer* http, const std::string& where,
                                        std::string* why) {
    Provider::Options options;
    options.version = DPX20_VERSION;
    if (http) options.authorization = [http] { return http->Authorization(); };
    auto server = std::make_unique<EmberServer>(endpoint, std::move(options));
    if (!http) server->TakePost(endpoint);
    if (!server->Listen(where, why)) return nullptr;
    return server;
}

}  // namespace dpx::ember
