#include "api/ControlApi.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <string_view>

#include "common/Format.h"
#include "common/MessageSink.h"
#include "link/FrameTrace.h"
#include "api/OperatorText.h"
#include "settings/OptionFile.h"
#include "session/Change.h"

namespace dpx::api {

namespace {

constexpr int kPanelMemories = 6;
constexpr int kBoxMemories = 2;

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// The head every answer starts with, its `result` and `meaning` as given.
Json HeadWith(const std::string& error, Json result, Json meaning) {
    Json j = Json::Object();
    j.Set("version", kVersion).Set("ok", error.empty()).Set("error", error.empty() ? Json() : Json(error));
    return j.Set("result", std::move(result)).Set("meaning", std::move(meaning));
}

// That head with a link result, or none.
Json Head(const std::string& error = {}, std::optional<int> result = {}) {
    return result ? HeadWith(error, *result, LinkResultMeaning(*result)) : HeadWith(error, Json(), Json());
}

// A notice of a settings file that could not be written ends with the text that was to be
// written; an answer carries the notice without it.
std::string WithoutFileText(const std::string& text) { return text.substr(0, text.find("\n\n\n")); }

Response Answer(int status, Json body) { return {status, body.Dump(), {}, {}}; }
Response Error(int status, const std::string& error) { return Answer(status, Head(error)); }

// A text of the box's info, or null when it has none.
Json TextOrNull(const std::string& text) { return text.empty() ? Json() : Json(text); }

Json Event(const char* name, const std::string& source) {
    Json e = Json::Object();
    e.Set("version", kVersion).Set("event", name).Set("source", source).Set("time", FrameTrace::IsoTime(FrameTrace::WallMs()));
    return e;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Compares in a time that does not depend on where the texts differ.
bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i]);
    return diff == 0;
}

}  // namespace

bool BearerMatches(std::string_view header, std::string_view token) {
    constexpr std::string_view kScheme = "bearer ";
    if (header.size() < kScheme.size() || Lower(header.substr(0, kScheme.size())) != kScheme) return false;
    header.remove_prefix(kScheme.size());
    while (!header.empty() && header.front() == ' ') header.remove_prefix(1);
    while (!header.empty() && header.back() == ' ') header.remove_suffix(1);
    return SameText(header, token);
}

Response Refusal(int status, const std::string& error) { return Error(status, error); }

Response Busy(int status, const std::string& error) {
    Response busy = Answer(status, HeadWith(error, "busy", "in use: try again"));
    busy.retry_after_s = 1;
    return busy;
}

namespace {

// "localhost", "127.0.0.1", "[::1]", each with or without ":port".
bool LoopbackHost(std::string_view host) {
    std::string name;
    if (!host.empty() && host.front() == '[') {
        const std::size_t end = host.find(']');
        name = Lower(host.substr(1, end == std::string_view::npos ? host.npos : end - 1));
    } else {
        name = Lower(host.substr(0, host.find(':')));
    }
    if (name == "localhost" || name == "localhost." || name == "::1") return true;
    return name.rfind("127.", 0) == 0 && name.find_first_not_of("0123456789.") == std::string::npos;
}

// Whether `origin` (an Origin header) is the origin of the page the request came from: `scheme`
// and `host` (the Host header), each without the scheme's default port.
bool SameOrigin(std::string_view origin, std::string_view scheme, std::string_view host) {
    const std::string prefix = std::string(scheme) + "://";
    std::string o = Lower(origin);
    std::string h = Lower(host);
    if (h.empty() || o.rfind(prefix, 0) != 0) return false;
    o.erase(0, prefix.size());
    const std::string default_port = scheme == "https" ? ":443" : ":80";
    for (std::string* name : {&o, &h})
        if (name->size() > default_port.size() && name->ends_with(default_port)) name->resize(name->size() - default_port.size());
    return o == h;
}

std::vector<std::string_view> Segments(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        if (path.front() == '/') {
            path.remove_prefix(1);
            continue;
        }
        const std::size_t end = std::min(path.find('/'), path.size());
        parts.push_back(path.substr(0, end));
        path.remove_prefix(end);
    }
    return parts;
}

// "1".."limit" as a number, else 0.
int SlotNumber(std::string_view text, int limit) {
    if (text.size() != 1 || text[0] < '1' || text[0] > '0' + limit) return 0;
    return text[0] - '0';
}

// Which settings a body may carry: the box's (PUT /settings, as dpx20ctl set), or every one
// but the link options, which the host keeps (POST /sync).
enum class Takes { kSettable, kSynchronised };

// The settings of a request body, checked whole before anything is done: 0, or 400 / 422
// with `error`.
int ParseValues(const std::string& body, Takes takes, std::vector<std::pair<const Setting*, int32_t>>& out,
                std::string& error) {
    const char* shape = "the body must be a JSON object of settings, e.g. {\"sys_adj3d_para\": 30}";
    if (body.empty()) {
        if (takes == Takes::kSynchronised) return 0;
        error = shape;
        return 400;
    }
    std::string why;
    const std::optional<Json> json = ParseJson(body, &why);
    if (!json) {
        error = "bad JSON: " + why;
        return 400;
    }
    if (!json->IsObject()) {
        error = shape;
        return 400;
    }
    if (json->Keys().empty() && takes == Takes::kSettable) {
        error = "no settings given";
        return 400;
    }
    for (std::size_t i = 0; i < json->Keys().size(); ++i) {
        const std::string& key = json->Keys()[i];
        const Json& value = json->Items()[i];
        const Setting* setting = FindSetting(key);
        if (!setting || (takes == Takes::kSettable && !setting->Settable())) {
            error = "unknown key \"" + key + "\"; the keys the box takes: " + SettableKeys();
            return 400;
        }
        if (takes == Takes::kSynchronised && setting->link_option) {
            error = std::string(setting->key) + " is a link option, which stays as the host has it";
            return 400;
        }
        if (std::count(json->Keys().begin(), json->Keys().end(), key) > 1) {
            error = std::string(setting->key) + " is given twice";
            return 400;
        }
        if (!value.IsInteger()) {
            // A number is named by its text: 1e3 is no integer here, and digits too many for one
            // are out of range.
            const std::string text = value.type() == Json::Type::kNumber ? value.Dump() : Json::TypeName(value.type());
            if (value.type() == Json::Type::kNumber && text.find_first_not_of("-0123456789") == std::string::npos) {
                error = Format("%s takes %s: %s", setting->key, RangeText(setting->Range()).c_str(), text.c_str());
                return 422;
            }
            error = Format("%s takes an integer written in digits, not %s", setting->key, text.c_str());
            return 400;
        }
        const int64_t v = value.Integer();
        if (v < INT32_MIN || v > INT32_MAX || !setting->Valid(static_cast<int32_t>(v))) {
            error = Format("%s takes %s: %lld", setting->key, RangeText(setting->Range()).c_str(), static_cast<long long>(v));
            return 422;
        }
        out.emplace_back(setting, static_cast<int32_t>(v));
    }
    return 0;
}

Json RangeJson(const ValueRange& range) {
    Json j = Json::Object();
    j.Set("low", range.low).Set("high", range.high);
    if (range.only != 0) {
        Json values = Json::Array();
        for (int32_t v = range.low; v <= range.high; ++v)
            if (range.Holds(v)) values.Push(v);
        j.Set("values", std::move(values));
    }
    return j.Set("text", RangeText(range));
}

}  // namespace

ControlApi::ControlApi(Session& session, Host& host)
    : session_(session), link_(session.Link()), host_(host),
      // Events come on the box's thread and go out on the transport's, in order.
      subscription_(session.Subscribe([this](const SessionEvent& e) { Back([this, e] { OnEvent(e); }); })) {}

ControlApi::~ControlApi() {
    session_.Unsubscribe(subscription_);
    alive_.reset();
    // What is still queued for the box uses this API: it ends first.
    link_.RunOnLink([] {});
}

void ControlApi::Back(std::function<void()> then) {
    post_([alive = std::weak_ptr<int>(alive_), then = std::move(then)] {
        if (!alive.expired()) then();
    });
}

SettingsRecord ControlApi::RunRecord() const {
    SettingsRecord run = session_.Record();
    host_.RunOptions(run);
    return run;
}

// ---------------------------------------------------------------- requests

std::optional<Response> Admit(const Access& access, const Request& request) {
    const std::string_view path = request.path;
    const std::string_view base = kBasePath;
    if (path.substr(0, base.size()) != base || (path.size() > base.size() && path[base.size()] != '/'))
        return Error(404, "no such endpoint: " + request.path + "; the endpoints are under " + kBasePath + "/");
    if (!request.origin.empty() && !SameOrigin(request.origin, request.scheme, request.host))
        return Error(403, "requests from another web page are refused (Origin: " + request.origin + ")");
    if (!access.token.empty() && !BearerMatches(request.authorization, access.token))
        return Error(401, "a token is needed: \"Authorization: Bearer TOKEN\"");
    if (access.loopback && !request.host.empty() && !LoopbackHost(request.host))
        return Error(403, "the Host header must name this computer: " + request.host);
    if (request.body.size() > kBodyLimit)
        return Error(413, Format("the body is %zu bytes; at most %zu are taken", request.body.size(), kBodyLimit));
    return std::nullopt;
}

void ControlApi::Handle(const Request& request, Reply reply) {
    if (std::optional<Response> refused = Admit(access_, request)) return reply(std::move(*refused));
    std::optional<Response> response = Route(request, reply);
    if (!response) return;  // a change or a read on the box's thread answers when it has run
    // Every refusal of a request that was let in says itself in an operator's words, and
    // reaches the event clients, once.
    if (response->status >= 400) {
        std::string why;
        if (std::optional<Json> answer = ParseJson(response->body, &why)) {
            answer->Set("operator_text", OperatorText(std::string_view(request.path).substr(sizeof kBasePath - 1), response->status, *answer));
            response->body = answer->Dump();
            EmitFailure(request, "api", response->status, *answer);
        }
    }
    reply(std::move(*response));
}

std::optional<Response> ControlApi::Route(const Request& request, const Reply& reply) {
    const std::vector<std::string_view> parts = Segments(std::string_view(request.path).substr(sizeof kBasePath - 1));
    const std::string& method = request.method;
    const auto wrong_method = [&](const char* allowed) {
        Response refused = Error(405, request.path + " takes " + allowed + ", not " + method);
        refused.allow = allowed;
        return refused;
    };
    const std::string first = parts.empty() ? "" : std::string(parts[0]);

    if (parts.size() == 1) {
        if (first == "state") return method == "GET" ? Answer(200, State()) : wrong_method("GET");
        if (first == "trace") {
            if (method != "GET") return wrong_method("GET");
            // The trace is the link's: read on its thread, after what is queued there.
            link_.PostOnLink([this, reply, alive = std::weak_ptr<int>(alive_), post = post_] {
                Json lines = Json::Array();
                for (const FrameTrace::Entry& e : link_.Trace().Entries()) lines.Push(FrameTrace::Line(e));
                post([alive, reply, lines = std::move(lines)] {
                    if (!alive.expired()) reply(Answer(200, Head().Set("lines", lines)));
                });
            });
            return std::nullopt;
        }
        if (first == "events") {
            if (method != "GET") return wrong_method("GET");
            if (!request.websocket) return Error(426, "the events come over a WebSocket: ask to upgrade");
            return Response{kSwitchingProtocols, {}, {}, {}};
        }
        if (first == "settings") {
            if (method != "PUT") return wrong_method("PUT");
            Values steps;
            std::string error;
            if (const int status = ParseValues(request.body, Takes::kSettable, steps, error)) return Error(status, error);
            return Change(request, Source::kApi, [this, steps](Json& answer, MessageCapture&) { return PutSettings(steps, answer); }, reply);
        }
        if (first == "connect" || first == "disconnect") {
            if (method != "POST") return wrong_method("POST");
            const int want = first == "connect" ? 1 : 0;
            return Change(request, Source::kApi, [this, want](Json& answer, MessageCapture&) { return Connect(want, answer); }, reply);
        }
        if (first == "sync") {
            if (method != "POST") return wrong_method("POST");
            Values values;
            std::string error;
            if (const int status = ParseValues(request.body, Takes::kSynchronised, values, error)) return Error(status, error);
            return Change(request, Source::kApi, [this, values](Json& answer, MessageCapture&) { return SyncWith(values, answer); }, reply);
        }
    }
    if (parts.size() == 3 && (first == "memory" || first == "adjust-memory") && (parts[2] == "save" || parts[2] == "load")) {
        const bool panel = first == "memory";
        const int n = SlotNumber(parts[1], panel ? kPanelMemories : kBoxMemories);
        if (n == 0)
            return Error(404, Format("no such memory: %s; the %s memories are 1 to %d", request.path.c_str(),
                                     panel ? "panel's" : "box's adjust", panel ? kPanelMemories : kBoxMemories));
        if (method != "POST") return wrong_method("POST");
        const bool save = parts[2] == "save";
        if (!panel)
            return Change(request, Source::kApi, [this, n, save](Json& answer, MessageCapture&) { return AdjustMemory(n, save, answer); }, reply);
        return Change(request, save ? Source::kApi : Source::kMemory,
                      [this, n, save](Json& answer, MessageCapture& messages) { return Memory(n, save, answer, messages); }, reply);
    }
    return Error(404, "no such endpoint: " + request.path);
}

std::optional<Response> ControlApi::Change(const Request& request, Source source, Work work, const Reply& reply) {
    if (pending_ || session_.Busy()) return Busy(409, "busy: a transaction is running");
    pending_ = true;
    const Clock::time_point start = Clock::now();
    struct Done {
        int status = 0;
        Json answer;
    };
    session_.Submit<Done>(
        [this, source, work = std::move(work)] {
            Done done;
            Json messages = Json::Array();
            {
                // The message boxes of one change, kept for its answer instead of shown; a
                // settings file that cannot be written ends the change with 500 instead of
                // the process.
                MessageCapture collector;
                done.status = work(done.answer, collector);
                for (const std::string& text : collector.texts) messages.Push(WithoutFileText(text));
                if (collector.fatal) done.status = SaveFailed(collector, done.answer);
            }
            done.answer.Set("messages", std::move(messages));
            session_.Publish(source);
            return done;
        },
        [this](std::function<void()> then) { Back(std::move(then)); },
        [this, request, source, reply, start](Done done) {
            pending_ = false;
            done.answer.Set("time_ms", MsSince(start));
            if (done.status >= 400) {
                done.answer.Set("operator_text",
                                OperatorText(std::string_view(request.path).substr(sizeof kBasePath - 1), done.status, done.answer));
                EmitFailure(request, SourceName(source), done.status, done.answer);
            }
            reply(Answer(done.status, std::move(done.answer)));
        });
    return std::nullopt;
}

int ControlApi::SaveFailed(const MessageCapture& collector, Json& answer) {
    // The box has what it took (the steps say so); the file has not: the notice's text, the
    // system's reason as the cause, and every figure of the answer but its head.
    Json failed = Head(collector.texts.empty() ? std::string("a settings file could not be written")
                                                : WithoutFileText(collector.texts.back()));
    const bool reason = !collector.details.empty() && !collector.details.back().empty();
    failed.Set("cause", reason ? Json(collector.details.back()) : Json());
    for (std::size_t i = 0; i < answer.Keys().size(); ++i)
        if (!failed.Find(answer.Keys()[i])) failed.Set(answer.Keys()[i], answer.Items()[i]);
    answer = std::move(failed);
    return 500;
}

void ControlApi::EmitFailure(const Request& request, const std::string& source, int status, const Json& answer) {
    Json failure = Event("failure", source);
    failure.Set("request", request.method + " " + request.path).Set("status", status);
    for (const char* field : {"error", "result", "meaning", "cause", "operator_text"})
        if (const Json* value = answer.Find(field)) failure.Set(field, *value);
    Emit(failure);
}

int ControlApi::PutSettings(const Values& values, Json& answer) {
    const ChangeResult change = session_.Change(values, Source::kApi);
    Json done = Json::Array();
    for (const ChangeStep& step : change.steps) {
        done.Push(Json::Object()
                      .Set("command", step.setting->key)
                      .Set("value", step.value)
                      .Set("result", step.result)
                      .Set("meaning", LinkResultMeaning(step.result))
                      .Set("time_ms", step.time_ms));
    }
    if (change.changed) host_.ShowSettings();
    if (change.refused) {
        answer = Head(change.error).Set("steps", std::move(done));
        return 409;
    }
    const int result = change.failed ? change.failed->result : kResultOk;
    std::string error = change.error;
    if (change.failed && error.empty())
        error = Format("%s=%d: result %d (%s)", change.failed->setting->key, static_cast<int>(change.failed->value),
                       result, LinkResultMeaning(result));
    answer = change.steps.empty() ? Head(error) : Head(error, result);
    answer.Set("steps", std::move(done));
    if (!error.empty() && !link_.State().link_failure.empty() && link_.State().link_connected == 0)
        answer.Set("cause", link_.State().link_failure);
    return error.empty() ? 200 : 409;
}

namespace {

// A synchronisation's figures into `answer`, after its head.
int SyncAnswer(const SyncOutcome& sync, Json& answer) {
    Json head = Head(sync.ok ? std::string() : "synchronisation: " + sync.summary, sync.last_failure);
    for (std::size_t i = 0; i < answer.Keys().size(); ++i)
        if (!head.Find(answer.Keys()[i])) head.Set(answer.Keys()[i], answer.Items()[i]);
    answer = std::move(head);
    answer.Set("synchronised", sync.ok).Set("errors", sync.errors).Set("summary", sync.summary);
    if (!sync.cause.empty()) answer.Set("cause", sync.cause);
    Json steps = Json::Array();  // the failed steps, in the shape of PUT /settings' steps
    std::string why;
    for (const SyncFailure& failure : sync.failed)
        if (std::optional<Json> step = ParseJson(SyncFailureJson(failure), &why)) steps.Push(std::move(*step));
    answer.Set("steps", std::move(steps));
    return sync.ok ? 200 : 409;
}

}  // namespace

int ControlApi::Connect(int want, Json& answer) {
    const Outcome out = session_.Connect(want, RunRecord(), Source::kApi);
    host_.ShowConnected();
    if (out.sync) {
        answer = Head({}, kResultOk);
        return SyncAnswer(*out.sync, answer);
    }
    if (!out.ok) {
        // A failure with an ACK or "not sent" for its result never reached the box (the port
        // could not be had): the result is then null, and the cause says why.
        const bool reached = out.result && *out.result != kResultOk && *out.result != kResultNotSent;
        answer = reached ? Head(out.error, *out.result) : Head(out.error);
        if (!out.cause.empty()) answer.Set("cause", out.cause);
        return 409;
    }
    answer = Head({}, kResultOk);
    return 200;
}

int ControlApi::SyncWith(const Values& values, Json& answer) {
    if (!session_.Connected()) {
        answer = Head("not connected: connect first", kResultNotSent);
        return 409;
    }
    answer = Head();
    if (values.empty()) return Synchronise(answer);
    // As a memory load: the box's values as given, then the synchronisation.
    SettingsRecord given = session_.Record();
    for (const auto& [setting, value] : values) given.*(setting->field) = value;
    const Outcome out = session_.SyncValues(given, Source::kApi, [this] { host_.ShowSettings(); },
                                            [this](const SettingsRecord&) { return RunRecord(); });
    return out.sync ? SyncAnswer(*out.sync, answer) : 200;
}

int ControlApi::Synchronise(Json& answer) { return SyncAnswer(session_.Synchronise(RunRecord()), answer); }

int ControlApi::Memory(int n, bool save, Json& answer, MessageCapture& messages) {
    const std::filesystem::path path = session_.MemoryPath(n);
    const std::string name = path.string();
    if (save) {
        session_.SaveMemory(n);
        answer = Head().Set("file", name);
        return 200;
    }
    const Outcome out = session_.LoadMemory(
        n, Source::kMemory, [this] { host_.ShowSettings(); },
        [this](const SettingsRecord&) { return RunRecord(); });
    if (!out.ok && !out.sync) {
        std::error_code ec;
        const bool missing = !std::filesystem::exists(path, ec);
        answer = Head(messages.Joined()).Set("file", name);
        return missing ? 404 : 422;
    }
    answer = Head().Set("file", name);
    return out.sync ? SyncAnswer(*out.sync, answer) : 200;
}

int ControlApi::AdjustMemory(int n, bool save, Json& answer) {
    const Outcome out = session_.AdjustMemory(n, save, Source::kApi);
    if (!out.ok) {
        answer = Head(out.error, out.result.value_or(kResultNotSent));
        return 409;
    }
    host_.ShowSettings();
    answer = Head({}, kResultOk);
    return 200;
}

// ---------------------------------------------------------------- state and events

Json ControlApi::State() const {
    const SessionView view = session_.View();
    Json settings = Json::Object();
    for (const Setting& s : kSettings) {
        settings.Set(s.key, Json::Object()
                                .Set("value", view.record.*s.field)
                                .Set("range", RangeJson(s.Range()))
                                .Set("settable", s.Settable())
                                .Set("group", GroupName(s.group))
                                .Set("label", SettingLabel(s.key)));
    }
    SettingsRecord run = view.record;
    host_.RunOptions(run);
    return Head()
        .Set("host", host_.Name())
        .Set("connected", view.connected)
        .Set("connection", ConnectionName(view))
        .Set("cause", view.not_answering ? Json(RS232c_bios::kSilentCause)
                      : view.connected || view.failure.empty() ? Json() : Json(view.failure))
        .Set("label", TextOrNull(info_.label))
        .Set("location", TextOrNull(info_.location))
        .Set("start_error", TextOrNull(info_.start_error))
        .Set("logged_in", view.logged_in)
        .Set("panel_connected", view.wanted)
        .Set("com", run.com_port_num)
        .Set("device", host_.Device())
        .Set("port_kind", host_.PortKind())
        .Set("modes", Json::Object()
                          .Set("virtual", view.virtual_mode)
                          .Set("no_ack", view.no_ack)
                          .Set("debug", view.debug))
        .Set("busy", pending_ || session_.Busy() ? Json("a transaction is running") : Json())
        .Set("settings", std::move(settings))
        .Set("box", box_.empty() ? Json() : Json(box_));
}

void ControlApi::OnEvent(const SessionEvent& e) {
    const char* source = SourceName(e.source);
    if (e.kind == SessionEvent::Kind::kSetting) {
        Emit(Event("setting", source).Set("key", e.setting->key).Set("value", e.value).Set("previous", e.previous));
        return;
    }
    const char* name = e.kind == SessionEvent::Kind::kConnected      ? "connected"
                       : e.kind == SessionEvent::Kind::kNotAnswering ? "not_answering"
                       : e.kind == SessionEvent::Kind::kAnswering    ? "answering"
                                                                     : "disconnected";
    Json event = Event(name, source);
    event.Set("com", e.port).Set("device", host_.Device());
    if (!e.cause.empty()) event.Set("cause", e.cause);
    if (!info_.label.empty()) event.Set("label", info_.label);
    if (!info_.location.empty()) event.Set("location", info_.location);
    Emit(event);
}

void ControlApi::NoteMessage(const std::string& text) {
    const int result = link_.State().link_result;
    Emit(Event("message", "panel").Set("text", text).Set("result", result).Set("meaning", LinkResultMeaning(result)));
}

void ControlApi::Emit(const Json& event) {
    if (!on_event) return;
    if (box_.empty()) return on_event(event.Dump());
    Json named = event;
    on_event(named.Set("box", box_).Dump());
}

}  // namespace dpx::api
