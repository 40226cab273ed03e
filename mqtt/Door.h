#pragma once
// The control API on an MQTT broker: a service's door beside the HTTP one, over the same
// Endpoint. A command on one of the service's command topics (Message.h) becomes the request the
// HTTP door would make of it (method, path, body) and goes through Endpoint::Handle: the same
// rules, refusals, frames and events. Its answer, the API's JSON, goes to the command's MQTT 5
// response topic with its correlation data and the HTTP status as the user property "status",
// or, for a client without response topics (MQTT 3.1.1), to PREFIX/SERVICE/result.
//
// Each box's state is kept on the broker as retained messages, brought up to date by the
// endpoint's events, and every event is published once more, not retained. The service's
// presence is retained too, and its last will says it is offline.
//
// Free of Qt and of the client library: messages come in through Receive() and go out through
// the `publish` function, on the application thread, where the endpoint is used.
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "api/ControlApi.h"
#include "mqtt/Message.h"

namespace dpx::mqtt {

class Door {
public:
    using Publish = std::function<void(const Message&)>;
    // Serves `endpoint`, whose boxes are `boxes`, as `service` below `prefix`. The endpoint must
    // outlive the door.
    Door(api::Endpoint& endpoint, std::string prefix, std::string service, std::vector<std::string> boxes, Publish publish);

    // The topic filters the door's commands come on.
    std::vector<std::string> Subscriptions() const;
    // What the broker publishes when the service goes away unannounced.
    Message Will() const;
    // After each (re)connection: the presence and every box's retained state, whole.
    void Online();
    // Before a clean end: the presence as offline (the last will is not sent then).
    void Offline();
    // One message from the broker. A command outside the service's own tree is dropped.
    void Receive(const Message& message);
    // One event of the endpoint (JSON), as ApiServer receives it.
    void Event(const std::string& json);
    // The retained state documents of boxes whose state changed go out through this hook, run
    // later (when a burst of events has been handled); by default at once.
    std::function<void(std::function<void()>)> later = [](std::function<void()> work) { work(); };
    // The Authorization header the door's requests carry (the token when the API asks for it).
    std::function<std::string()> authorization;

    const std::string& Base() const { return base_; }

private:
    // The request a command topic and payload make, or an answer at once (a refusal).
    bool MakeRequest(const std::vector<std::string>& levels, const Message& message, api::Request* request,
                     api::Response* refusal, std::string* id) const;
    void Answer(const Message& command, const std::string& id, const api::Response& response);
    // Publishes a retained message unless the broker already has this payload from the door.
    void Retain(const std::string& topic, const std::string& payload);
    void PublishStates();
    void PublishState(const std::string& box, const api::Json& state);

    api::Endpoint& endpoint_;
    std::string prefix_, service_, base_;
    std::vector<std::string> boxes_;
    Publish publish_;
    std::map<std::string, std::string> retained_;  // topic: the payload published
    std::set<std::string> due_;                    // boxes whose state document is to go out
    bool flush_planned_ = false;
    // Lives as long as the door: answers and work handed back after its end find it expired.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// The service's presence, as PREFIX/SERVICE/status carries it.
std::string Presence(const std::string& service, bool online, const std::vector<std::string>& boxes);

}  // namespace dpx::mqtt
