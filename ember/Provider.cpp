#include "ember/Provider.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <string_view>

#include "model/SettingTable.h"

namespace dpx::ember {
namespace {

using api::Json;

// Numbers of a box's children.
constexpr uint32_t kIdentity = 1;
constexpr uint32_t kConnected = 2;
constexpr uint32_t kCause = 3;
constexpr uint32_t kLastRefusal = 4;
constexpr uint32_t kSettingsNode = 5;
constexpr uint32_t kFunctions = 6;
constexpr uint32_t kBoxChildren = 6;
constexpr uint32_t kService = 1;  // the root's only child
constexpr char kServiceName[] = "dpx20remote";

constexpr std::array<const char*, 4> kIdentityNames = {"name", "port", "portKind", "version"};

// The names an operator knows a setting and its values by, as the web page shows them.
struct Label {
    const char* key;
    const char* label;
    std::vector<std::pair<int32_t, const char*>> names;  // empty: a number over its range
};

const std::vector<std::pair<int32_t, const char*>> kOnOff = {{0, "OFF"}, {1, "ON"}};

const std::vector<Label>& Labels() {
    static const std::vector<Label> labels = {
        {"sys_2D3D", "2D-3D", kOnOff},
        {"sys_no_ack", "No ACK", kOnOff},
        {"sys_sync_on", "Sync on connect", kOnOff},
        {"vertual_mode", "Virtual mode", kOnOff},
        {"debug_mode", "Debug mode", kOnOff},
        {"sys_input_select", "Input", {{0, "SDI-LR"}, {1, "SDI-1(L)"}, {2, "SDI-2(R)"}, {3, "HDMI"}}},
        {"sys_input_porality", "SDI-LR polarity", {{0, "NORMAL"}, {1, "INVERT"}}},
        {"sys_sdi_mix", "SDI output", {{0, "MIX"}, {1, "INDIVIDUAL"}}},
        {"sys_hdmi_mix", "HDMI output", {{0, "MIX"}, {1, "INDIVIDUAL"}}},
        {"sys_3dfmt", "3D format", {{0, "LINE BY LINE"}, {1, "SIDE BY SIDE H"}, {2, "ABOVE-BELOW"}, {3, "CHECKER BOARD"}}},
        {"sys_rotate", "Rotate", {{0, "OFF"}, {1, "SDI-1(L) ROTATE"}, {2, "SDI-2(R) ROTATE"}}},
        {"sys_f_sync", "Frame sync", kOnOff},
        {"sys_beep", "Beep", {{0, "ON"}, {1, "OFF"}}},
        {"sys_bk_light", "Back light", {}},
        {"sys_save1_para", "Adjust memory 1 parallax", {}},
        {"sys_save1_inte", "Adjust memory 1 intensity", {}},
        {"sys_save1_subi", "Adjust memory 1 sub intensity", {}},
        {"sys_save2_para", "Adjust memory 2 parallax", {}},
        {"sys_save2_inte", "Adjust memory 2 intensity", {}},
        {"sys_save2_subi", "Adjust memory 2 sub intensity", {}},
        {"sys_adj3d_mode", "Adjust", {{0, "OFF"}, {4, "STANDARD"}, {6, "ANAGRYPH"}, {8, "LR-SEQ."}}},
        {"sys_adj3d_para", "Parallax", {}},
        {"sys_adj3d_inte", "Intensity", {}},
        {"sys_adj3d_subi", "Sub intensity", {}},
        {"sys_LRadj_mode", "SDI-LR adjust", {{0, "OFF"}, {1, "SPLIT"}, {2, "ANAGRYPH"}, {3, "LR-SEQ."}}},
        {"sys_LRadj_split", "Split position", {}},
        {"sys_scp_mode", "Scope", {{0, "OFF"}, {1, "W. F. M."}, {2, "VECTOR SCOPE"}}},
        {"sys_scp_src", "Scope source", {{0, "PARALLEL"}, {1, "BALANCE"}, {2, "IN1"}, {3, "IN2"}}},
        {"sys_scp_pos", "Scope position", {{0, "RIGHT LOWER"}, {1, "LEFT LOWER"}, {2, "LEFT UPPER"}, {3, "RIGHT UPPER"}}},
        {"sys_scp_fil", "Scope filter", {{0, "FLAT"}, {1, "LOW PASS"}}},
        {"sys_scp_wgain", "W. F. M. gain", {}},
        {"sys_scp_vgain", "Vector gain", {}},
        {"com_port_num", "COM port", {}},
        {"load_adj_only", "Load adjust only", kOnOff},
    };
    return labels;
}

const Label* LabelOf(std::string_view key) {
    for (const Label& l : Labels())
        if (key == l.key) return &l;
    return nullptr;
}

struct Function {
    const char* identifier;
    const char* description;
    const char* path;  // below the box's prefix; %d: the argument
    bool takes_number;
};
constexpr std::array<Function, 7> kFunctionRows = {{
    {"connect", "Log in to the box (CONNECT), with the synchronisation when sync on is set", "/connect", false},
    {"disconnect", "Log off the box", "/disconnect", false},
    {"synchronise", "Push every setting to the box", "/sync", false},
    {"loadMemory", "Load panel memory n (1 to 6) and, while connected, synchronise the box", "/memory/%/load", true},
    {"saveMemory", "Save the settings into panel memory n (1 to 6)", "/memory/%/save", true},
    {"loadAdjustMemory", "Load the box's adjust memory n (1 or 2)", "/adjust-memory/%/load", true},
    {"saveAdjustMemory", "Save the adjust values into the box's adjust memory n (1 or 2)", "/adjust-memory/%/save", true},
}};

Element Parameter(Path path, std::string identifier, std::string description, Value value, Access access) {
    Element e;
    e.kind = Element::Kind::kParameter;
    e.path = std::move(path);
    ParameterContents& c = e.parameter;
    c.identifier = std::move(identifier);
    c.description = std::move(description);
    c.type = std::holds_alternative<bool>(value)          ? ParameterType::kBoolean
             : std::holds_alternative<int64_t>(value)     ? ParameterType::kInteger
                                                          : ParameterType::kString;
    c.value = std::move(value);
    c.access = access;
    return e;
}

Element Node(Path path, std::string identifier, std::string description, std::optional<bool> online = {}) {
    Element e;
    e.kind = Element::Kind::kNode;
    e.path = std::move(path);
    e.node.identifier = std::move(identifier);
    e.node.description = std::move(description);
    e.node.online = online;
    return e;
}

std::string Text(const Json* j) { return j && j->type() == Json::Type::kString ? j->Text() : std::string(); }
bool Flag(const Json* state, std::string_view key) {
    const Json* j = state ? state->Find(key) : nullptr;
    return j && j->type() == Json::Type::kBool && j->Bool();
}

Path Child(Path path, uint32_t n) {
    path.push_back(n);
    return path;
}

bool Within(const Path& path, const Path& subscribed) {
    return subscribed == path || (path.size() == subscribed.size() + 1 && std::equal(subscribed.begin(), subscribed.end(), path.begin()));
}

}  // namespace

Provider::Provider(api::Endpoint& endpoint, Options options) : endpoint_(endpoint), options_(std::move(options)) {
    const Json states = endpoint_.State();
    auto add = [&](const Json& state) {
        const std::string name = Text(state.Find("box"));
        if (name.empty()) boxes_.push_back({"panel", api::kBasePath, {}});
        else boxes_.push_back({name, std::string(api::kBasePath) + "/boxes/" + name, {}});
    };
    if (const Json* list = states.Find("boxes"); list && list->type() == Json::Type::kArray)
        for (const Json& state : list->Items()) add(state);
    else add(states);
    previous_ = endpoint_.on_event;
    endpoint_.on_event = [this](const std::string& json) {
        if (previous_) previous_(json);
        OnEvent(json);
    };
}

Provider::~Provider() { endpoint_.on_event = previous_; }

void Provider::Add(int id) { consumers_.try_emplace(id, Consumer{S101Decoder(options_.limits), {}, false, 0, {}, {}}); }

void Provider::Remove(int id) { consumers_.erase(id); }

void Provider::Handle(const api::Request& request, std::function<void(api::Response)> reply) {
    endpoint_.Handle(request, std::move(reply));
}

void Provider::Receive(int id, std::string_view bytes) {
    auto it = consumers_.find(id);
    if (it == consumers_.end()) return;
    std::vector<S101Decoder::Item> items;
    const bool ok = it->second.decoder.Feed(bytes, &items);
    const std::string error = it->second.decoder.Error();
    for (S101Decoder::Item& item : items) {
        if (item.kind == S101Decoder::Item::Kind::kKeepAliveRequest && send) send(id, KeepAliveResponse());
        if (item.kind != S101Decoder::Item::Kind::kMessage) continue;
        it = consumers_.find(id);
        if (it == consumers_.end()) return;
        it->second.queue.push_back(std::move(item.message));
    }
    it = consumers_.find(id);
    if (it == consumers_.end()) return;
    if (!ok) {
        if (close) close(id, error);
        return;
    }
    // One message at a time per consumer, in order: a request may wait for the box, and
    // meanwhile more bytes of the same consumer come in.
    if (it->second.handling) return;
    it->second.handling = true;
    for (;;) {
        it = consumers_.find(id);
        if (it == consumers_.end()) return;
        if (it->second.queue.empty()) {
            it->second.handling = false;
            return;
        }
        const std::string message = std::move(it->second.queue.front());
        it->second.queue.erase(it->second.queue.begin());
        Dispatch(id, message);
    }
}

void Provider::Dispatch(int id, const std::string& message) {
    std::vector<Action> actions;
    std::string why;
    if (!DecodeRequest(message, &actions, &why)) {
        if (close) close(id, why);
        return;
    }
    for (const Action& action : actions) {
        if (!consumers_.count(id)) return;
        Act(id, action);
    }
}

void Provider::Act(int id, const Action& action) {
    Consumer& consumer = consumers_.at(id);
    switch (action.kind) {
        case Action::Kind::kGetDirectory:
            consumer.subscribed.insert(action.path);
            GetDirectory(id, action.path);
            break;
        case Action::Kind::kSubscribe: consumer.subscribed.insert(action.path); break;
        case Action::Kind::kUnsubscribe: consumer.subscribed.erase(action.path); break;
        case Action::Kind::kSetValue: SetValue(id, action.path, action.value); break;
        case Action::Kind::kInvoke: Invoke(id, action); break;
    }
}

void Provider::SendTo(int id, const std::string& glow) {
    if (consumers_.count(id) && send) send(id, EncodeMessage(glow));
}

void Provider::Ask(int id, const api::Request& request, std::function<void(const api::Response&)> answer) {
    ++consumers_.at(id).answering;
    api::Request asked = request;
    if (options_.authorization) asked.authorization = options_.authorization();
    Handle(asked, [this, id, answer](const api::Response& response) {
        answer(response);
        const auto it = consumers_.find(id);
        if (it == consumers_.end()) return;
        if (--it->second.answering > 0) return;
        const std::vector<std::string> held = std::move(it->second.held);
        it->second.held.clear();
        for (const std::string& glow : held) SendTo(id, glow);
    });
}

// ---------------------------------------------------------------- the tree

Json Provider::BoxStates() const { return endpoint_.State(); }

const Json* Provider::BoxState(const Json& states, std::size_t box) const {
    if (const Json* list = states.Find("boxes"); list && list->type() == Json::Type::kArray)
        return box < list->Items().size() ? &list->Items()[box] : nullptr;
    return &states;
}

Element Provider::SettingParameter(std::size_t box, std::size_t row, const Json* state) const {
    const Setting& s = dpx::kSettings[row];
    const Label* label = LabelOf(s.key);
    Element e;
    e.kind = Element::Kind::kParameter;
    e.path = {kService, static_cast<uint32_t>(box + 1), kSettingsNode, static_cast<uint32_t>(row + 1)};
    ParameterContents& c = e.parameter;
    c.identifier = s.key;
    c.description = label ? label->label : s.key;
    c.access = s.Settable() ? Access::kReadWrite : Access::kRead;
    const Json* settings = state ? state->Find("settings") : nullptr;
    const Json* setting = settings ? settings->Find(s.key) : nullptr;
    const Json* value = setting ? setting->Find("value") : nullptr;
    if (value && value->IsInteger()) c.value = value->Integer();
    const ValueRange range = s.Range();
    if (label && !label->names.empty()) {
        c.type = ParameterType::kEnum;
        bool counted = true;  // the values are 0, 1, 2, ...: also as the plain enumeration
        std::string names;
        int32_t next = 0;
        for (int32_t v = range.low; v <= range.high; ++v) {
            if (!range.Holds(v)) continue;
            const auto named = std::find_if(label->names.begin(), label->names.end(), [v](const auto& n) { return n.first == v; });
            const std::string name = named != label->names.end() ? named->second : std::to_string(v);
            c.enum_map.emplace_back(name, v);
            counted = counted && v == next++;
            names += (names.empty() ? "" : "\n") + name;
        }
        if (counted) c.enumeration = names;
    } else {
        c.type = ParameterType::kInteger;
        c.minimum = range.low;
        c.maximum = range.high;
    }
    return e;
}

Element Provider::BoxNode(std::size_t box, const Json* state) const {
    const std::string device = Text(state ? state->Find("device") : nullptr);
    return Node({kService, static_cast<uint32_t>(box + 1)}, boxes_[box].name,
                "Box " + boxes_[box].name + (device.empty() ? "" : " on " + device));
}

Element Provider::BoxChild(std::size_t box, uint32_t n, const Json* state) const {
    const Path path = {kService, static_cast<uint32_t>(box + 1), n};
    const bool connected = Flag(state, "connected");
    switch (n) {
        case kIdentity: return Node(path, "identity", "The box's name, port and this program's version");
        case kConnected: return Parameter(path, "connected", "Whether the box is connected", connected, Access::kRead);
        case kCause:
            return Parameter(path, "cause", "Why the box is not connected", Text(state ? state->Find("cause") : nullptr), Access::kRead);
        case kLastRefusal:
            return Parameter(path, "lastRefusal", "The text of the box's last refused request", boxes_[box].last_refusal, Access::kRead);
        case kSettingsNode: return Node(path, "settings", "Every setting of the box", connected);
        default: return Node(path, "functions", "Connect, synchronise and the memories");
    }
}

bool Provider::Describe(const Path& path, bool children, const Json& states, Element* out) const {
    // The element at `path` and how many children it has.
    auto make = [&](const Path& p, Element* e, uint32_t* count) -> bool {
        *count = 0;
        if (p.empty() || p[0] != kService) return false;
        if (p.size() == 1) {
            *e = Node(p, kServiceName, kServiceName + (" " + options_.version));
            *count = static_cast<uint32_t>(boxes_.size());
            return true;
        }
        if (p[1] < 1 || p[1] > boxes_.size()) return false;
        const std::size_t box = p[1] - 1;
        const Json* state = BoxState(states, box);
        if (p.size() == 2) {
            *e = BoxNode(box, state);
            *count = kBoxChildren;
            return true;
        }
        const uint32_t n = p[2];
        if (n < 1 || n > kBoxChildren) return false;
        if (p.size() == 3) {
            *e = BoxChild(box, n, state);
            *count = n == kIdentity ? kIdentityNames.size() : n == kSettingsNode ? dpx::kSettings.size() : n == kFunctions ? kFunctionRows.size() : 0;
            return true;
        }
        if (p.size() != 4 || p[3] < 1) return false;
        const std::size_t i = p[3] - 1;
        if (n == kIdentity && i < kIdentityNames.size()) {
            const std::string values[] = {boxes_[box].name, Text(state ? state->Find("device") : nullptr),
                                          Text(state ? state->Find("port_kind") : nullptr), options_.version};
            *e = Parameter(p, kIdentityNames[i], kIdentityNames[i], values[i], Access::kRead);
            return true;
        }
        if (n == kSettingsNode && i < dpx::kSettings.size()) {
            *e = SettingParameter(box, i, state);
            return true;
        }
        if (n == kFunctions && i < kFunctionRows.size()) {
            e->kind = Element::Kind::kFunction;
            e->path = p;
            e->function.identifier = kFunctionRows[i].identifier;
            e->function.description = kFunctionRows[i].description;
            if (kFunctionRows[i].takes_number) e->function.arguments = {{ParameterType::kInteger, "n"}};
            e->function.result = {{ParameterType::kInteger, "result"}, {ParameterType::kString, "text"}};
            return true;
        }
        return false;
    };
    uint32_t count = 0;
    if (!make(path, out, &count)) return false;
    if (!children) return true;
    for (uint32_t n = 1; n <= count; ++n) {
        Element child;
        uint32_t ignored = 0;
        if (make(Child(path, n), &child, &ignored)) out->children.push_back(std::move(child));
    }
    return true;
}

// ---------------------------------------------------------------- requests

void Provider::GetDirectory(int id, const Path& path) {
    const Json states = BoxStates();
    std::vector<Element> elements;
    if (path.empty()) {
        Element service;
        if (Describe({kService}, false, states, &service)) elements.push_back(std::move(service));
    } else {
        // A node's children, each with its path (as consumers expand a tree: what comes is
        // the level below what they asked for); a parameter or function itself.
        Element e;
        if (!Describe(path, true, states, &e)) return;  // nothing there: nothing to tell
        if (e.children.empty()) elements.push_back(std::move(e));
        else elements = std::move(e.children);
        for (Element& element : elements) element.qualified = true;
    }
    SendTo(id, EncodeElements(elements));
}

void Provider::SetValue(int id, const Path& path, const Value& value) {
    // The value in force afterwards goes back to the consumer that asked, taken or not.
    auto answer = [this, id, path] {
        Element e;
        if (!Describe(path, false, BoxStates(), &e)) return;
        e.qualified = true;
        SendTo(id, EncodeElements({e}));
    };
    if (path.size() != 4 || path[0] != kService || path[1] < 1 || path[1] > boxes_.size() || path[2] != kSettingsNode ||
        path[3] < 1 || path[3] > dpx::kSettings.size())
        return answer();  // read-only, or nothing there
    Json v;
    if (const auto* i = std::get_if<int64_t>(&value)) v = Json(static_cast<long long>(*i));
    else if (const auto* b = std::get_if<bool>(&value)) v = Json(*b ? 1 : 0);
    else if (const auto* s = std::get_if<std::string>(&value)) v = Json(*s);
    api::Request request;
    request.method = "PUT";
    request.path = boxes_[path[1] - 1].prefix + "/settings";
    request.body = Json::Object().Set(dpx::kSettings[path[3] - 1].key, v).Dump();
    Ask(id, request, [answer](const api::Response&) { answer(); });
}

void Provider::Invoke(int id, const Action& action) {
    const Path& path = action.path;
    const int32_t invocation = action.invocation_id;
    auto result = [this, id, invocation](bool ok, int64_t code, std::string text) {
        SendTo(id, EncodeInvocationResult(invocation, ok, {code, std::move(text)}));
    };
    if (path.size() != 4 || path[0] != kService || path[1] < 1 || path[1] > boxes_.size() || path[2] != kFunctions ||
        path[3] < 1 || path[3] > kFunctionRows.size())
        return result(false, -1, "no such function: " + PathText(path));
    const Function& f = kFunctionRows[path[3] - 1];
    std::string rest = f.path;
    if (f.takes_number) {
        const int64_t* n = action.arguments.size() == 1 ? std::get_if<int64_t>(&action.arguments[0]) : nullptr;
        if (!n) return result(false, -1, std::string(f.identifier) + " takes one integer: the memory's number");
        rest.replace(rest.find('%'), 1, std::to_string(*n));
    } else if (!action.arguments.empty()) {
        return result(false, -1, std::string(f.identifier) + " takes no arguments");
    }
    api::Request request;
    request.method = "POST";
    request.path = boxes_[path[1] - 1].prefix + rest;
    Ask(id, request, [result](const api::Response& response) {
        std::string why;
        const std::optional<Json> body = api::ParseJson(response.body, &why);
        const Json* code = body ? body->Find("result") : nullptr;
        const std::string error = body ? Text(body->Find("error")) : why;
        const std::string summary = body ? Text(body->Find("summary")) : std::string();
        const bool ok = response.status == 200;
        result(ok, code && code->IsInteger() ? code->Integer() : -1, !ok ? error : summary.empty() ? "done" : summary);
    });
}

// ---------------------------------------------------------------- events

std::size_t Provider::BoxOf(const Json& event) const {
    const std::string name = Text(event.Find("box"));
    if (name.empty()) return boxes_.size() == 1 ? 0 : boxes_.size();
    for (std::size_t b = 0; b < boxes_.size(); ++b)
        if (boxes_[b].name == name) return b;
    return boxes_.size();
}

void Provider::OnEvent(const std::string& json) {
    std::string why;
    const std::optional<Json> event = api::ParseJson(json, &why);
    if (!event) return;
    const std::string kind = Text(event->Find("event"));
    const std::size_t box = BoxOf(*event);
    if (box >= boxes_.size()) return;
    const auto b = static_cast<uint32_t>(box + 1);
    std::vector<Element> elements;
    if (kind == "setting") {
        const Setting* s = FindSetting(Text(event->Find("key")));
        const Json* value = event->Find("value");
        if (!s || !value || !value->IsInteger()) return;
        Element e;
        e.kind = Element::Kind::kParameter;
        e.path = {kService, b, kSettingsNode, static_cast<uint32_t>(s - dpx::kSettings.data() + 1)};
        e.parameter.value = value->Integer();
        e.parameter.type = LabelOf(s->key) && !LabelOf(s->key)->names.empty() ? ParameterType::kEnum : ParameterType::kInteger;
        elements.push_back(std::move(e));
    } else if (kind == "connected" || kind == "disconnected") {
        const Json states = BoxStates();
        for (uint32_t n : {kConnected, kCause, kSettingsNode}) elements.push_back(BoxChild(box, n, BoxState(states, box)));
    } else if (kind == "failure") {
        boxes_[box].last_refusal = Text(event->Find("error"));
        elements.push_back(BoxChild(box, kLastRefusal, nullptr));
    }
    for (Element& e : elements) e.qualified = true;
    if (!elements.empty()) Notify(elements);
}

void Provider::Notify(const std::vector<Element>& elements) {
    std::vector<int> ids;
    for (const auto& [id, consumer] : consumers_) ids.push_back(id);
    for (int id : ids) {
        const auto it = consumers_.find(id);
        if (it == consumers_.end()) continue;
        std::vector<Element> told;
        for (const Element& e : elements) {
            const bool wanted = std::any_of(it->second.subscribed.begin(), it->second.subscribed.end(),
                                            [&](const Path& s) { return Within(e.path, s); });
            if (wanted) told.push_back(e);
        }
        if (told.empty()) continue;
        if (it->second.answering > 0) it->second.held.push_back(EncodeElements(told));
        else SendTo(id, EncodeElements(told));
    }
}

}  // namespace dpx::ember
