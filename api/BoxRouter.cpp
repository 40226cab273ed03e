#include "api/BoxRouter.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

namespace dpx::api {
namespace {

constexpr std::string_view kBoxes = "/boxes";

// The head every answer starts with; `error` not empty: a refusal.
Json Head(const std::string& error = {}) {
    Json j = Json::Object();
    return j.Set("version", kVersion)
        .Set("ok", error.empty())
        .Set("error", error.empty() ? Json() : Json(error))
        .Set("result", Json())
        .Set("meaning", Json());
}

Response Answer(int status, const Json& body) {
    Response r;
    r.status = status;
    r.body = body.Dump();
    return r;
}

Response NotFound(const std::string& error) { return Answer(404, Head(error)); }

Response WrongMethod(const std::string& path, const std::string& method) {
    Response refused = Answer(405, Head(path + " takes GET, not " + method));
    refused.allow = "GET";
    return refused;
}

}  // namespace

// A path segment with its %XX escapes decoded: a name in UTF-8 comes so from a browser.
std::string Decoded(std::string_view segment) {
    std::string out;
    for (std::size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] == '%' && i + 2 < segment.size() && std::isxdigit(static_cast<unsigned char>(segment[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(segment[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(segment.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += segment[i];
        }
    }
    return out;
}

BoxRouter::BoxRouter(std::vector<Box> boxes) : boxes_(std::move(boxes)) {
    for (Box& box : boxes_) {
        box.api->SetBoxName(box.name);
        box.api->SetBoxInfo(box.info);
        box.api->on_event = [this](const std::string& json) {
            if (on_event) on_event(json);
        };
    }
}

BoxRouter::~BoxRouter() {
    for (Box& box : boxes_) box.api->on_event = nullptr;
}

void BoxRouter::SetAccess(Access access) {
    access_ = access;
    for (Box& box : boxes_) box.api->SetAccess(access);
}

void BoxRouter::SetPost(Session::Post post) {
    for (Box& box : boxes_) box.api->SetPost(post);
}

Json BoxRouter::List() const {
    Json list = Json::Array();
    for (const Box& box : boxes_) {
        const Json state = box.api->State();
        Json item = Json::Object().Set("name", box.name).Set("port", box.port).Set("port_kind", box.port_kind);
        for (const char* field : {"connected", "connection", "cause", "label", "location", "start_error"})
            item.Set(field, *state.Find(field));
        list.Push(std::move(item));
    }
    return list;
}

void BoxRouter::Handle(const Request& request, Reply reply) {
    if (std::optional<Response> answer = Route(request, reply)) reply(std::move(*answer));
}

std::optional<Response> BoxRouter::Route(const Request& request, const Reply& reply) {
    const std::string boxes_path = std::string(kBasePath) + std::string(kBoxes);
    const std::string_view path = request.path;
    if (path.substr(0, boxes_path.size()) != boxes_path || (path.size() > boxes_path.size() && path[boxes_path.size()] != '/')) {
        if (boxes_.size() == 1) {
            boxes_.front().api->Handle(request, reply);
            return std::nullopt;
        }
        // The events of every box, each naming its box.
        if (path == std::string(kBasePath) + "/events") {
            if (std::optional<Response> refused = Admit(access_, request)) return *refused;
            if (request.method != "GET") return WrongMethod(std::string(path), request.method);
            if (!request.websocket) return Answer(426, Head("the events come over a WebSocket: ask to upgrade"));
            return Answer(kSwitchingProtocols, Json::Object());
        }
        return NotFound("no such endpoint: " + request.path + "; this service has several boxes: " + boxes_path +
                        " lists them, " + boxes_path + "/NAME/... is box NAME's");
    }
    if (std::optional<Response> refused = Admit(access_, request)) return *refused;
    std::string_view rest = path.substr(boxes_path.size());
    while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
    if (rest.empty()) {
        if (request.method != "GET" && request.method != "HEAD") return WrongMethod(boxes_path, request.method);
        return Answer(200, Head().Set("boxes", List()));
    }
    const std::string_view segment = rest.substr(0, rest.find('/'));
    const std::string name = Decoded(segment);
    const auto box = std::find_if(boxes_.begin(), boxes_.end(), [&](const Box& b) { return b.name == name; });
    if (box == boxes_.end()) return NotFound("no such box: " + name);
    Request inner = request;
    inner.path = std::string(kBasePath) + std::string(rest.substr(segment.size()));
    box->api->Handle(inner, reply);
    return std::nullopt;
}

Json BoxRouter::State() const {
    if (boxes_.size() == 1) return boxes_.front().api->State();
    Json states = Json::Array();
    for (const Box& box : boxes_) states.Push(box.api->State());
    return Head().Set("boxes", std::move(states));
}

}  // namespace dpx::api
