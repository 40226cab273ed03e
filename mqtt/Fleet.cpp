#include "mqtt/Fleet.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "link/FrameTrace.h"

namespace dpx::mqtt {
namespace {

using api::Json;

Json Head() {
    return Json::Object().Set("version", api::kVersion).Set("ok", true).Set("error", Json()).Set("result", Json()).Set("meaning", Json());
}

api::Response Answer(int status, const Json& body) {
    api::Response r;
    r.status = status;
    r.body = body.Dump();
    return r;
}

std::optional<Json> Parse(const std::string& text) {
    std::string why;
    std::optional<Json> json = api::ParseJson(text, &why);
    if (json && !json->IsObject()) return std::nullopt;
    return json;
}

// "%2F" (any case) as '/', so that a page that encodes the name SERVICE/BOX is understood.
std::string Unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && text[i + 1] == '2' && (text[i + 2] == 'F' || text[i + 2] == 'f')) {
            out += '/';
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

Fleet::Fleet(std::string prefix, std::string client, Publish publish)
    : prefix_(std::move(prefix)), client_(std::move(client)), publish_(std::move(publish)) {}

// What is still pending is dropped: its transport has ended or is ending.
Fleet::~Fleet() = default;

void Fleet::Deliver(Reply reply, api::Response response) {
    post_([reply = std::move(reply), response = std::move(response)] { reply(response); });
}

std::vector<std::string> Fleet::Subscriptions() const {
    // The presence first: the broker hands each filter's retained messages in this order.
    return {prefix_ + "/+/status", prefix_ + "/+/+/state", prefix_ + "/+/+/events", prefix_ + "/+/reply/" + client_};
}

void Fleet::Receive(const Message& message) {
    const std::string own = prefix_ + "/";
    if (message.topic.rfind(own, 0) != 0) return;
    const std::vector<std::string> levels = Levels(message.topic.substr(own.size()));
    if (levels.empty() || !ValidName(levels[0])) return;
    const std::string& service = levels[0];
    if (levels.size() == 2 && levels[1] == "status") return OnPresence(service, message.payload);
    if (levels.size() == 3 && levels[1] == "reply" && levels[2] == client_) return OnAnswer(message);
    if (levels.size() != 3 || !ValidName(levels[1])) return;
    if (levels[2] == "state") return OnState(service, levels[1], message.payload);
    if (levels[2] == "events" && !message.retain) return OnEvent(service, levels[1], message.payload);
}

void Fleet::OnPresence(const std::string& service, const std::string& payload) {
    const std::optional<Json> presence = Parse(payload);
    if (!presence) {
        // An empty retained message takes a service away; anything else unreadable is ignored.
        if (payload.empty() && services_.erase(service)) {
            Fail(service, 503, "the service " + service + " is gone");
            Announce();
        }
        return;
    }
    Service& s = services_[service];
    const Json* online = presence->Find("online");
    const Json* boxes = presence->Find("boxes");
    std::vector<std::string> names;
    if (boxes)
        for (const Json& box : boxes->Items())
            if (box.type() == Json::Type::kString && ValidName(box.Text()) && std::find(names.begin(), names.end(), box.Text()) == names.end())
                names.push_back(box.Text());
    s.names = names;
    for (auto it = s.boxes.begin(); it != s.boxes.end();)
        it = std::find(names.begin(), names.end(), it->first) == names.end() ? s.boxes.erase(it) : std::next(it);
    const bool now = online && online->type() == Json::Type::kBool && online->Bool();
    if (!now) {
        s.cause = "the service " + service + " is offline";
        Fail(service, 503, s.cause);
    }
    s.online = now;
    Announce();
}

void Fleet::OnState(const std::string& service, const std::string& box, const std::string& payload) {
    std::optional<Json> state = Parse(payload);
    Service& s = services_[service];
    if (!state) {
        if (s.boxes.erase(box)) Announce();
        return;
    }
    Box& b = s.boxes[box];
    const bool was_connected = !b.state.IsNull() && b.state.Find("connected") && b.state.Find("connected")->Bool();
    const bool first = b.state.IsNull();
    b.state = std::move(*state);
    const Json* connected = b.state.Find("connected");
    // A new box, or one whose connection changed without an event (a service that restarted).
    if (first || was_connected != (connected && connected->Bool())) Announce();
}

void Fleet::OnEvent(const std::string& service, const std::string& box, const std::string& payload) {
    const auto s = services_.find(service);
    if (s == services_.end() || !s->second.online || !s->second.boxes.count(box)) return;
    const std::optional<Json> event = Parse(payload);
    if (!event) return;
    Json renamed = Json::Object();
    for (std::size_t i = 0; i < event->Keys().size(); ++i)
        if (event->Keys()[i] != "box") renamed.Set(event->Keys()[i], event->Items()[i]);
    renamed.Set("box", service + "/" + box);
    Emit(renamed);
}

void Fleet::OnAnswer(const Message& message) {
    const auto it = pending_.find(message.correlation);
    if (it == pending_.end()) return;  // answered already (timed out), or another fleet's
    Reply reply = std::move(it->second.reply);
    pending_.erase(it);
    api::Response response;
    response.status = message.status > 0 ? message.status : 502;
    response.body = message.status > 0 ? message.payload : api::Refusal(502, "the service answered without a status").body;
    Deliver(std::move(reply), std::move(response));
}

void Fleet::Fail(const std::string& service, int status, const std::string& error) {
    std::vector<Reply> replies;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (service.empty() || it->second.service == service) {
            replies.push_back(std::move(it->second.reply));
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    for (Reply& reply : replies) Deliver(std::move(reply), api::Refusal(status, error));
}

void Fleet::BrokerLost(const std::string& cause) {
    for (auto& [name, s] : services_) {
        s.online = false;
        s.cause = "the broker is not reachable: " + cause;
    }
    Fail({}, 503, "the broker is not reachable: " + cause);
    Announce();
}

void Fleet::Announce() {
    if (announce_planned_) return;
    announce_planned_ = true;
    const auto announce = [this, alive = std::weak_ptr<int>(alive_)] {
        if (alive.expired()) return;
        announce_planned_ = false;
        Json state = State();
        state.Set("event", "state").Set("source", "fleet").Set("time", FrameTrace::IsoTime(FrameTrace::WallMs()));
        Emit(state);
    };
    if (after) after(kAnnounceMs, announce);
    else announce();
}

void Fleet::Emit(const Json& event) {
    if (on_event) on_event(event.Dump());
}

Json Fleet::StateOf(const std::string& service, const Service& s, const std::string& box) const {
    const Json& kept = s.boxes.at(box).state;
    Json state = Json::Object();
    for (std::size_t i = 0; i < kept.Keys().size(); ++i) {
        const std::string& key = kept.Keys()[i];
        if (key == "box" || key == "service" || key == "service_online") continue;
        // An offline service's boxes are disconnected, whatever their last retained state said.
        if (!s.online && key == "connected") state.Set(key, false);
        else if (!s.online && key == "connection") state.Set(key, "disconnected");
        else if (!s.online && key == "cause") state.Set(key, s.cause);
        else state.Set(key, kept.Items()[i]);
    }
    return state.Set("box", service + "/" + box).Set("service", service).Set("service_online", s.online);
}

Json Fleet::State() const {
    Json boxes = Json::Array();
    for (const auto& [service, s] : services_)
        for (const std::string& box : s.names)
            if (const auto b = s.boxes.find(box); b != s.boxes.end() && b->second.state.IsObject())
                boxes.Push(StateOf(service, s, box));
    return Head().Set("host", "fleet").Set("boxes", std::move(boxes));
}

Json Fleet::List() const {
    Json list = Json::Array();
    for (const auto& [service, s] : services_) {
        for (const std::string& box : s.names) {
            const auto b = s.boxes.find(box);
            const Json* state = b != s.boxes.end() && b->second.state.IsObject() ? &b->second.state : nullptr;
            const auto field = [&](const char* name) { return state && state->Find(name) ? *state->Find(name) : Json(); };
            const bool connected = s.online && field("connected").Bool();
            Json cause = !s.online ? Json(s.cause) : connected ? Json() : field("cause");
            list.Push(Json::Object()
                          .Set("name", service + "/" + box)
                          .Set("port", state && state->Find("device") ? *state->Find("device") : Json(""))
                          .Set("port_kind", state && state->Find("port_kind") ? *state->Find("port_kind") : Json(""))
                          .Set("connected", connected)
                          .Set("connection", !s.online ? Json("disconnected") : field("connection"))
                          .Set("cause", std::move(cause))
                          .Set("label", field("label"))
                          .Set("location", field("location"))
                          .Set("service", service)
                          .Set("service_online", s.online));
        }
    }
    return list;
}

void Fleet::Handle(const api::Request& request, Reply reply) {
    if (std::optional<api::Response> answer = Route(request, reply)) reply(std::move(*answer));
}

std::optional<api::Response> Fleet::Route(const api::Request& request, const Reply& reply) {
    if (std::optional<api::Response> refused = api::Admit(access_, request)) return *refused;
    const std::string base = api::kBasePath;
    const std::string path = Unescape(request.path);
    const auto only = [&](const char* method) -> std::optional<api::Response> {
        if (request.method == method || (std::string_view(method) == "GET" && request.method == "HEAD")) return std::nullopt;
        api::Response refused = api::Refusal(405, request.path + " takes " + method + ", not " + request.method);
        refused.allow = method;
        return refused;
    };
    if (path == base + "/state") {
        if (auto refused = only("GET")) return refused;
        return Answer(200, State());
    }
    if (path == base + "/events") {
        if (auto refused = only("GET")) return refused;
        if (!request.websocket) return api::Refusal(426, "the events come over a WebSocket: ask to upgrade");
        return Answer(api::kSwitchingProtocols, Json::Object());
    }
    const std::string boxes = base + "/boxes";
    if (path == boxes || path == boxes + "/") {
        if (auto refused = only("GET")) return refused;
        return Answer(200, Head().Set("boxes", List()));
    }
    if (path.rfind(boxes + "/", 0) != 0)
        return api::Refusal(404, "no such endpoint: " + request.path + "; the fleet's boxes are " + boxes + "/SERVICE/BOX/...");
    const std::vector<std::string> levels = Levels(path.substr(boxes.size() + 1));
    if (levels.size() < 2 || !ValidName(levels[0]) || !ValidName(levels[1]))
        return api::Refusal(404, "no such box: " + path.substr(boxes.size() + 1));
    const std::string& service = levels[0];
    const std::string& box = levels[1];
    const auto s = services_.find(service);
    if (s == services_.end() || std::find(s->second.names.begin(), s->second.names.end(), box) == s->second.names.end())
        return api::Refusal(404, "no such box: " + service + "/" + box);
    if (!s->second.online) return api::Refusal(503, s->second.cause);
    std::string rest;
    for (std::size_t i = 2; i < levels.size(); ++i) rest += "/" + levels[i];
    Message command;
    command.topic = prefix_ + "/" + service + "/cmd";
    // The body goes as the client sent it: the service reads it as it reads its own clients'.
    command.payload = Json::Object()
                          .Set("method", request.method)
                          .Set("path", boxes + "/" + box + rest)
                          .Set("body", request.body)
                          .Dump();
    command.response_topic = prefix_ + "/" + service + "/reply/" + client_;
    command.correlation = std::to_string(++next_);
    pending_[command.correlation] = Pending{service, reply};
    const std::string correlation = command.correlation;
    publish_(command);
    if (after) {
        after(kAnswerTimeoutMs, [this, alive = std::weak_ptr<int>(alive_), correlation, service] {
            if (alive.expired()) return;
            const auto it = pending_.find(correlation);
            if (it == pending_.end()) return;
            Reply late = std::move(it->second.reply);
            pending_.erase(it);
            Deliver(std::move(late), api::Refusal(504, "the service " + service + " did not answer"));
        });
    }
    return std::nullopt;
}

}  // namespace dpx::mqtt
