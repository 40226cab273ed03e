#pragma once
// The Ember+ provider on TCP: each connection a consumer of the provider (ember/Provider),
// served on the thread and event loop of its host (the panel's or the service's).
//
// Ember+ has no authentication: whoever reaches the port reads and changes every box. It
// listens on a loopback address unless told otherwise, and warns when it is told otherwise.
// No consumer harms another: at most kMaxConsumers are served; one that breaks the framing,
// sends a frame or message over its limit or nests too deep, leaves kBacklogLimit unread or
// stays silent for kSilentMs (a keep-alive request goes to it after kKeepAliveMs) is closed.
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "api/ControlApi.h"
#include "ember/Provider.h"

namespace dpx::api {
class ApiServer;
}

namespace dpx::ember {

// The port an address without one listens on.
inline constexpr uint16_t kDefaultPort = 9000;

class EmberServer final : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxConsumers = 32;
    static constexpr qint64 kBacklogLimit = 1024 * 1024;
    static constexpr int kKeepAliveMs = 10000;
    static constexpr int kSilentMs = 35000;

    // Serves `endpoint` (which must outlive it) once Listen() succeeds. It shares the
    // endpoint's events with the HTTP server: make it after that server, end it before.
    EmberServer(api::Endpoint& endpoint, Provider::Options options, QObject* parent = nullptr);
    ~EmberServer() override;

    // Listens on `where`: "PORT", "ADDR" (port 9000) or "ADDR:PORT" ("[IPv6]:PORT"); false
    // with `why`. Beyond loopback it warns that anyone on the network may drive the boxes.
    bool Listen(const std::string& where, std::string* why);
    // "127.0.0.1:9000" while listening, else empty.
    std::string Address() const;
    void Close();
    int Consumers() const { return static_cast<int>(sockets_.size()); }
    // Brings the answers and events of `endpoint`'s box threads back to this thread, where it
    // serves; for a provider without an HTTP server, which does so otherwise.
    void TakePost(api::Endpoint& endpoint);

    // Receives each warning; by default it is printed on standard error.
    std::function<void(const std::string& text)> on_warning;

private:
    struct Peer {
        QPointer<QTcpSocket> socket;
        qint64 heard_ms = 0;  // when it last sent anything
    };
    void Accept();
    void Drop(int id, const std::string& why);
    void Send(int id, const std::string& bytes);
    void KeepAlive();
    void Warn(const std::string& text) const;
    qint64 Now() const;

    Provider provider_;
    QTcpServer listener_;
    QTimer keep_alive_;
    std::map<int, Peer> sockets_;
    int next_id_ = 1;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // work handed back after the end is dropped
};

// An Ember+ provider of `endpoint` listening on `where`, its requests carrying the token of
// `http` (the HTTP server of the same endpoint, or nullptr) where that asks for one; nullptr
// with `why` when it cannot listen.
std::unique_ptr<EmberServer> StartEmber(api::Endpoint& endpoint, api::ApiServer* http, const std::string& where,
                                        std::string* why);

}  // namespace dpx::ember
