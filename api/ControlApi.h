#pragma once
// The control API without its transport: a request (method, path, a few headers, body) in, a
// status and one JSON object out, and an event (one JSON object) for every change of the
// settings record or the connection. It serves one box's Session for a host, the panel or the
// headless service, which shows what changed.
// Free of Qt, so that it is fuzzed and unit-tested; http/ApiServer binds it to HTTP and
// WebSockets. Requests are read and answered on the transport's thread; a change runs as one
// operation on its box's own thread (Session::Submit) and is answered when it has ended, so no
// caller ever waits for a box, and meanwhile other requests and other boxes are answered (a
// second change of the same box is refused as busy). No message box opens for a request: what
// the link, the files or the synchronisation would show is returned in the answer instead.
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/ApiJson.h"
#include "common/MessageSink.h"
#include "link/RS232c_bios.h"
#include "model/SettingTable.h"
#include "session/Session.h"
#include "model/SettingsRecord.h"

namespace dpx::api {

inline constexpr int kVersion = 1;
// Every endpoint lies below this path.
inline constexpr char kBasePath[] = "/api/v1";
// The largest request body taken; a longer one is refused with 413.
inline constexpr std::size_t kBodyLimit = 64 * 1024;
// Handle()'s status for an accepted WebSocket upgrade of the events endpoint: the transport
// hands the connection to its WebSocket server and writes nothing itself.
inline constexpr int kSwitchingProtocols = 101;

struct Request {
    std::string method;         // "GET", "PUT", "POST", ...
    std::string path;           // "/api/v1/settings", without the query
    std::string body;
    std::string authorization;  // the Authorization header ("" when absent), likewise:
    std::string origin;         // the Origin header: a web browser sent the request for a page
    std::string host;           // the Host header
    std::string scheme = "http";  // how the request came: "http", or "https" over TLS
    bool websocket = false;     // asks to upgrade to a WebSocket
};

struct Response {
    int status = 200;
    std::string body;   // one JSON object, or a file of the web page
    std::string allow;  // 405: the methods the endpoint takes ("GET", "PUT", ...)
    std::string content_type;  // empty: application/json
    int retry_after_s = 0;     // > 0: the client may try again after this many seconds (Retry-After)
};

// A refusal with no link result: the head of every answer with `error`, `result` and
// `meaning` null. The transport answers with it what never reaches Handle() (a request that
// cannot be read, a full server).
Response Refusal(int status, const std::string& error);
// The refusal of a request that finds something in use (another change of the box running,
// every place of the server taken): `result` "busy", with Retry-After, so that a client tells
// "try again" from a refusal that stands (a rule's, with `result` null, or the box's, with its
// number).
Response Busy(int status, const std::string& error);
// Whether `authorization` (an Authorization header) carries `token` as its Bearer token.
bool BearerMatches(std::string_view authorization, std::string_view token);

// What the panel and the service do differently. ShowSettings, ShowConnected and RunOptions
// are called on the box's thread, within a change; the others on the transport's.
class Host {
public:
    virtual ~Host() = default;
    virtual std::string Name() const = 0;  // "panel" or "service"
    // The record changed: write the options file, before the change is answered (a failed
    // write is answered as 500 with its message; the process goes on), and show it.
    virtual void ShowSettings() = 0;
    // The connection asked for changed: show it (the panel's CONNECT box).
    virtual void ShowConnected() {}
    // The link options that a connect or a synchronisation of `record` runs with. The panel
    // runs with the record's own; the service with its command line's.
    virtual void RunOptions(SettingsRecord& record) const { (void)record; }
    // The device the link's port is (a path, COMn, a network address) and its kind:
    // "device", "raw TCP" or "RFC 2217".
    virtual std::string Device() const = 0;
    virtual std::string PortKind() const = 0;
};

// Who may send requests.
struct Access {
    // When not empty, every request must carry "Authorization: Bearer <token>" (401 without).
    std::string token;
    // Served on a loopback address: a Host header must then name this computer (403
    // otherwise), so that a web page whose name was pointed at 127.0.0.1 cannot reach it.
    bool loopback = true;
};

// The refusal of a request that `access` does not let in (one from a web page of another origin,
// one without the token, a Host that is not this computer), or of a body over the limit; nothing
// when it is let in. A page's own requests are let in: their Origin is the scheme they came
// with and the Host they name (the server's own page, served at /).
std::optional<Response> Admit(const Access& access, const Request& request);

// What the transport serves: one box (ControlApi) or several (BoxRouter).
class Endpoint {
public:
    // Receives the answer to one request, on the transport's thread: at once, or once the
    // box's operation has ended.
    using Reply = std::function<void(Response)>;
    virtual ~Endpoint() = default;
    virtual void SetAccess(Access access) = 0;
    // How work reaches the transport's thread from a box's (its event loop); by default it
    // runs at once, for a caller without a box thread.
    virtual void SetPost(Session::Post post) = 0;
    // Answers `request` through `reply`, exactly once.
    virtual void Handle(const Request& request, Reply reply) = 0;
    // The answer of GET /state, also the first event a WebSocket client receives.
    virtual Json State() const = 0;
    // Receives each event as one JSON object.
    std::function<void(const std::string& json)> on_event;
};

class ControlApi final : public Endpoint {
public:
    // Serves `session` for `host`; both must outlive it. Events report changes against the
    // record and the connection as they are now.
    ControlApi(Session& session, Host& host);
    ~ControlApi() override;
    ControlApi(const ControlApi&) = delete;
    ControlApi& operator=(const ControlApi&) = delete;

    void SetAccess(Access access) override { access_ = std::move(access); }
    void SetPost(Session::Post post) override { post_ = std::move(post); }
    // The box's name in a service of several boxes: every event and state carries it as "box".
    void SetBoxName(std::string name) { box_ = std::move(name); }
    // What the service knows of the box besides its name: the state and the connection's
    // events carry its label and location, the state why its start failed.
    struct BoxInfo {
        std::string label;
        std::string location;
        std::string start_error;
    };
    void SetBoxInfo(BoxInfo info) { info_ = std::move(info); }

    // Answers one request. A request that changes something is refused while another one
    // of this box runs (409 busy), and so are changes the box's rules refuse (409 with the
    // panel's text); what they refuse leaves the box, the record and the files untouched. The
    // events of what the request changed go out before its answer.
    void Handle(const Request& request, Reply reply) override;

    // Sends one event for each setting whose value differs from the last one reported, and
    // for a change of the connection, each naming `source`.
    void Notify(Source source) { session_.Publish(source); }
    // A message box the panel showed the operator: a "message" event.
    void NoteMessage(const std::string& text);
    Json State() const override;

private:
    using Work = std::function<int(Json& answer, MessageCapture& messages)>;
    // Settings with their new values, in the order given.
    using Values = std::vector<std::pair<const Setting*, int32_t>>;

    // The answer when it is known at once; nothing when the box's thread answers later.
    std::optional<Response> Route(const Request& request, const Reply& reply);
    // Runs `work` as a change on the box's thread: refused while busy; messages collected;
    // events, then the answer.
    std::optional<Response> Change(const Request& request, Source source, Work work, const Reply& reply);
    // Runs `then` on the transport's thread, unless the API has ended meanwhile.
    void Back(std::function<void()> then);
    // A change during which a settings file could not be written: 500, the answer's head
    // replaced by the failure; its other fields (the steps the box took) kept.
    static int SaveFailed(const MessageCapture& collector, Json& answer);
    int PutSettings(const Values& steps, Json& answer);
    int Connect(int want, Json& answer);
    int SyncWith(const Values& values, Json& answer);
    int Memory(int n, bool save, Json& answer, MessageCapture& messages);
    int AdjustMemory(int n, bool save, Json& answer);
    // SynchroniseAll of the record with the host's link options; its summary into `answer`.
    int Synchronise(Json& answer);
    // The record with the link options the host runs with.
    SettingsRecord RunRecord() const;
    void OnEvent(const SessionEvent& event);
    void EmitFailure(const Request& request, const std::string& source, int status, const Json& answer);
    void Emit(const Json& event);

    Session& session_;
    RS232c_bios& link_;
    Host& host_;
    Access access_;
    Session::Post post_ = [](std::function<void()> work) { work(); };
    // Lives as long as the API: work handed back after its end finds it expired.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    bool pending_ = false;  // a change of this API has not been answered yet
    int subscription_ = 0;
    std::string box_;
    BoxInfo info_;
};

}  // namespace dpx::api
