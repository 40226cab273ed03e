#pragma once
// Every box of every service on a broker behind one control API (dpx20ctl fleet): an Endpoint,
// so that ApiServer and the web page serve it as they serve one service. Its boxes are named
// SERVICE/BOX and are those the services' presence lists; their states are the services'
// retained ones. A request for a box goes as a command to its service's PREFIX/SERVICE/cmd,
// with an MQTT 5 response topic below the service's own tree, and its answer comes back with
// the status and the body that service gave it. Events follow from PREFIX/SERVICE/BOX/events.
// A service that went away (its last will, or the broker lost) shows its boxes disconnected,
// with the cause, until it is back.
//
// Free of Qt and of the client library, as the door: messages through Receive(), out through
// `publish`, all on the application thread.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "api/ControlApi.h"
#include "mqtt/Message.h"

namespace dpx::mqtt {

class Fleet final : public api::Endpoint {
public:
    using Publish = std::function<void(const Message&)>;
    // After how long a request no service answered is answered with 504.
    static constexpr int kAnswerTimeoutMs = 120000;
    // The page's whole state goes out at most this often: services that start together, or
    // a broker that hands every retained state at once, make one state, not one per box.
    static constexpr int kAnnounceMs = 200;

    // `client` names this fleet's answers' topics (one level: letters, digits, '-', '_').
    Fleet(std::string prefix, std::string client, Publish publish);
    ~Fleet() override;

    // The topic filters the fleet listens to.
    std::vector<std::string> Subscriptions() const;
    void Receive(const Message& message);
    // The broker is lost: every service is unknown until the broker tells them again.
    void BrokerLost(const std::string& cause);
    // Runs `work` after `ms` milliseconds: a request's time limit, and the page's whole state
    // after kAnnounceMs; without it there is no time limit and the state goes out at once.
    std::function<void(int ms, std::function<void()> work)> after;

    void SetAccess(api::Access access) override { access_ = std::move(access); }
    // How answers reach the transport: through its own hand-over, which drops them once the
    // transport has ended.
    void SetPost(Session::Post post) override { post_ = std::move(post); }
    void Handle(const api::Request& request, Reply reply) override;
    api::Json State() const override;

private:
    struct Box {
        api::Json state;  // as its service keeps it; null until it came
    };
    struct Service {
        bool online = false;
        std::string cause;  // why it is offline
        std::vector<std::string> names;  // its boxes, in its order
        std::map<std::string, Box> boxes;
    };
    struct Pending {
        std::string service;
        Reply reply;
    };

    std::optional<api::Response> Route(const api::Request& request, const Reply& reply);
    api::Json List() const;
    // A box's state as the fleet shows it: named SERVICE/BOX, with its service's presence.
    api::Json StateOf(const std::string& service, const Service& s, const std::string& box) const;
    void OnPresence(const std::string& service, const std::string& payload);
    void OnState(const std::string& service, const std::string& box, const std::string& payload);
    void OnEvent(const std::string& service, const std::string& box, const std::string& payload);
    void OnAnswer(const Message& message);
    // Every pending request of `service` (all when empty) answered with `status` and `error`.
    void Fail(const std::string& service, int status, const std::string& error);
    // The page's whole state, once the messages at hand have been handled.
    void Announce();
    void Emit(const api::Json& event);
    void Deliver(Reply reply, api::Response response);

    std::string prefix_, client_;
    Publish publish_;
    api::Access access_;
    Session::Post post_ = [](std::function<void()> work) { work(); };
    std::map<std::string, Service> services_;
    std::map<std::string, Pending> pending_;  // by correlation data
    uint64_t next_ = 0;
    bool announce_planned_ = false;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace dpx::mqtt
