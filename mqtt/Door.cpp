#include "mqtt/Door.h"

#include <memory>
#include <optional>

#include "link/FrameTrace.h"

namespace dpx::mqtt {
namespace {

using api::Json;

api::Response Refused(int status, const std::string& error) { return api::Refusal(status, error); }

std::string Text(const Json& value) { return value.type() == Json::Type::kString ? value.Text() : value.Dump(); }

}  // namespace

std::string Presence(const std::string& service, bool online, const std::vector<std::string>& boxes) {
    Json names = Json::Array();
    for (const std::string& box : boxes) names.Push(box);
    return Json::Object()
        .Set("version", api::kVersion)
        .Set("service", service)
        .Set("online", online)
        .Set("boxes", std::move(names))
        .Set("time", FrameTrace::IsoTime(FrameTrace::WallMs()))
        .Dump();
}

Door::Door(api::Endpoint& endpoint, std::string prefix, std::string service, std::vector<std::string> boxes, Publish publish)
    : endpoint_(endpoint),
      prefix_(std::move(prefix)),
      service_(std::move(service)),
      base_(prefix_ + "/" + service_),
      boxes_(std::move(boxes)),
      publish_(std::move(publish)) {}

std::vector<std::string> Door::Subscriptions() const { return {base_ + "/cmd", base_ + "/+/cmd/#"}; }

Message Door::Will() const {
    Message will;
    will.topic = base_ + "/status";
    will.payload = Presence(service_, false, boxes_);
    will.retain = true;
    return will;
}

void Door::Online() {
    // The broker may have lost what it kept (a restart without persistence): all of it again.
    retained_.clear();
    Retain(base_ + "/status", Presence(service_, true, boxes_));
    PublishStates();
}

void Door::Offline() {
    Message presence = Will();
    publish_(presence);
}

void Door::PublishStates() {
    const Json state = endpoint_.State();
    const Json* several = state.Find("boxes");
    if (!several) {
        if (!boxes_.empty()) PublishState(boxes_.front(), state);
        return;
    }
    for (const Json& one : several->Items())
        if (const Json* name = one.Find("box"); name && name->type() == Json::Type::kString) PublishState(name->Text(), one);
}

void Door::PublishState(const std::string& box, const Json& state) {
    const std::string at = base_ + "/" + box;
    Retain(at + "/state", state.Dump());
    const Json* connected = state.Find("connected");
    const bool on = connected && connected->Bool();
    Retain(at + "/connection", on ? "connected" : "disconnected");
    const Json* cause = state.Find("cause");
    // An empty retained message takes the retained cause away.
    Retain(at + "/cause", cause && cause->type() == Json::Type::kString ? cause->Text() : "");
    if (const Json* settings = state.Find("settings"); settings && settings->IsObject()) {
        for (std::size_t i = 0; i < settings->Keys().size(); ++i)
            if (const Json* value = settings->Items()[i].Find("value"))
                Retain(at + "/settings/" + settings->Keys()[i], value->Dump());
    }
}

void Door::Retain(const std::string& topic, const std::string& payload) {
    auto [it, added] = retained_.try_emplace(topic, payload);
    if (!added) {
        if (it->second == payload) return;
        it->second = payload;
    }
    Message m;
    m.topic = topic;
    m.payload = payload;
    m.retain = true;
    publish_(m);
}

void Door::Event(const std::string& json) {
    std::string why;
    const std::optional<Json> event = api::ParseJson(json, &why);
    if (!event || !event->IsObject()) return;
    const Json* box = event->Find("box");
    std::string name = box && box->type() == Json::Type::kString ? box->Text() : "";
    if (name.empty() && boxes_.size() == 1) name = boxes_.front();
    if (!ValidName(name)) return;
    Message m;
    m.topic = base_ + "/" + name + "/events";
    m.payload = json;
    publish_(m);
    // A setting's retained value goes at once; the whole state once the burst has been handled.
    const Json* kind = event->Find("event");
    const Json* key = event->Find("key");
    const Json* value = event->Find("value");
    if (kind && kind->Text() == "setting" && key && value && ValidName(key->Text()))
        Retain(base_ + "/" + name + "/settings/" + key->Text(), value->Dump());
    due_.insert(name);
    if (flush_planned_) return;
    flush_planned_ = true;
    later([this, alive = std::weak_ptr<int>(alive_)] {
        if (alive.expired()) return;
        flush_planned_ = false;
        if (due_.empty()) return;
        const Json state = endpoint_.State();
        const Json* several = state.Find("boxes");
        if (!several && !boxes_.empty()) {
            PublishState(boxes_.front(), state);
        } else if (several) {
            for (const Json& one : several->Items())
                if (const Json* n = one.Find("box"); n && due_.count(n->Text())) PublishState(n->Text(), one);
        }
        due_.clear();
    });
}

bool Door::MakeRequest(const std::vector<std::string>& levels, const Message& message, api::Request* request,
                       api::Response* refusal, std::string* id) const {
    const std::string boxes = std::string(api::kBasePath) + "/boxes/";
    // PREFIX/SERVICE/cmd: a whole request.
    if (levels.size() == 1) {
        std::string why;
        const std::optional<Json> command = api::ParseJson(message.payload, &why);
        if (!command || !command->IsObject()) {
            *refusal = Refused(400, "a command on " + message.topic + " is a JSON object {\"method\",\"path\",\"body\"}" +
                                        (command ? std::string() : ": " + why));
            return false;
        }
        if (const Json* given = command->Find("id")) *id = Text(*given);
        const Json* method = command->Find("method");
        const Json* path = command->Find("path");
        if (!method || method->type() != Json::Type::kString || !path || path->type() != Json::Type::kString) {
            *refusal = Refused(400, "\"method\" and \"path\" are strings");
            return false;
        }
        request->method = method->Text();
        request->path = path->Text();
        if (request->path.rfind(api::kBasePath, 0) != 0) request->path = api::kBasePath + request->path;
        if (const Json* body = command->Find("body"); body && !body->IsNull()) request->body = Text(*body);
        return true;
    }
    // PREFIX/SERVICE/BOX/cmd/...
    const std::string& box = levels[0];
    if (!ValidName(box)) {
        *refusal = Refused(404, "no such box: " + box);
        return false;
    }
    if (levels.size() < 3) {
        *refusal = Refused(404, "a command names what to do after cmd/: " + message.topic);
        return false;
    }
    std::string rest;
    for (std::size_t i = 2; i < levels.size(); ++i) {
        if (levels[i].empty()) {
            *refusal = Refused(404, "an empty level in " + message.topic);
            return false;
        }
        rest += "/" + levels[i];
    }
    if (levels[2] == "set" && levels.size() == 3) {
        request->method = "PUT";
        request->path = boxes + box + "/settings";
        request->body = message.payload;
    } else if (levels[2] == "set" && levels.size() == 4) {
        std::string why;
        const std::optional<Json> value = api::ParseJson(message.payload, &why);
        if (!value || !value->IsInteger()) {
            *refusal = Refused(400, levels[3] + " takes an integer, not " + (value ? Json::TypeName(value->type()) : "\"" + message.payload.substr(0, 40) + "\""));
            return false;
        }
        request->method = "PUT";
        request->path = boxes + box + "/settings";
        request->body = Json::Object().Set(levels[3], *value).Dump();
    } else {
        request->method = "POST";
        request->path = boxes + box + rest;
        request->body = message.payload;
    }
    return true;
}

void Door::Receive(const Message& message) {
    const std::string own = base_ + "/";
    if (message.topic.rfind(own, 0) != 0 || message.retain) return;  // not ours, or old news kept by the broker
    const std::vector<std::string> levels = Levels(message.topic.substr(own.size()));
    const bool whole = levels.size() == 1 && levels[0] == "cmd";
    if (!whole && (levels.size() < 2 || levels[1] != "cmd")) return;  // state, results: the door's own
    std::string id;
    if (message.payload.size() > kPayloadLimit) {
        Answer(message, id, Refused(413, "the command is " + std::to_string(message.payload.size()) + " bytes; at most " +
                                             std::to_string(kPayloadLimit) + " are taken"));
        return;
    }
    api::Request request;
    api::Response refusal;
    if (!MakeRequest(levels, message, &request, &refusal, &id)) {
        Answer(message, id, refusal);
        return;
    }
    if (authorization) request.authorization = authorization();
    endpoint_.Handle(request, [this, alive = std::weak_ptr<int>(alive_), message, id](api::Response response) {
        if (!alive.expired()) Answer(message, id, response);
    });
}

void Door::Answer(const Message& command, const std::string& id, const api::Response& response) {
    Message m;
    if (!command.response_topic.empty()) {
        m.topic = command.response_topic;
        m.correlation = command.correlation;
        m.status = response.status;
        m.payload = response.body;
        publish_(m);
        return;
    }
    std::string why;
    std::optional<Json> answer = api::ParseJson(response.body, &why);
    Json result = Json::Object().Set("topic", command.topic);
    if (!id.empty()) result.Set("id", id);
    result.Set("status", response.status).Set("answer", answer ? std::move(*answer) : Json(response.body));
    m.topic = base_ + "/result";
    m.payload = result.Dump();
    publish_(m);
}

}  // namespace dpx::mqtt
