#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <map>

#include "api/ControlApi.h"
#include "http/ApiServer.h"

#ifndef DPX20_VERSION
#define DPX20_VERSION "unknown"
#endif

// What the server answers itself, without the API: the web page's files, GET /health and the
// OpenAPI document.
namespace dpx::api {
namespace {

// The file of the web page a GET of `path` asks for ("/" is index.html), with its type; nothing
// when the path names none.
std::optional<Response> PageFile(const std::string& path) {
    static const QRegularExpression kName(QStringLiteral("^/([a-z0-9-]+\\.(html|css|js|svg))?$"));
    const QRegularExpressionMatch m = kName.match(QString::fromStdString(path));
    if (!m.hasMatch()) return std::nullopt;
    const QString name = m.captured(1).isEmpty() ? QStringLiteral("index.html") : m.captured(1);
    QFile file(QStringLiteral(":/dpx20remote/web/") + name);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    static const std::map<QString, std::string> kTypes = {
        {QStringLiteral("html"), "text/html; charset=utf-8"},
        {QStringLiteral("css"), "text/css; charset=utf-8"},
        {QStringLiteral("js"), "text/javascript; charset=utf-8"},
        {QStringLiteral("svg"), "image/svg+xml"},
    };
    Response page;
    page.body = file.readAll().toStdString();
    page.content_type = kTypes.at(name.section(QLatin1Char('.'), -1));
    return page;
}


}  // namespace

bool ApiServer::LocalPath(const std::string& path) {
    const std::string base = kBasePath;
    return path.rfind(base, 0) != 0 || path == base + "/health" || path == base + "/openapi.json";
}

// The web page's files, which hold nothing secret (the page asks for the token where one is
// needed), GET /health and GET /openapi.json, which a monitor asks for without the token on this
// computer.
std::optional<Response> ApiServer::AnswerLocally(const Request& request, bool loopback_peer) {
    const std::string base = kBasePath;
    if (request.path.rfind(base, 0) != 0) {
        std::optional<Response> page = PageFile(request.path);
        if (page && request.method != "GET") {
            Response refused = Refusal(405, request.path + " takes GET, not " + request.method);
            refused.allow = "GET";
            return refused;
        }
        if (page) return page;
    }
    const bool health = request.path == base + "/health";
    if (!health && request.path != base + "/openapi.json") return std::nullopt;
    if (request.method != "GET") {
        Response refused = Refusal(405, request.path + " takes GET, not " + request.method);
        refused.allow = "GET";
        return refused;
    }
    if (token_required_ && !loopback_peer && !BearerMatches(request.authorization, token_))
        return Refusal(401, "a token is needed: \"Authorization: Bearer TOKEN\"");
    if (!health) {
        QFile document(QStringLiteral(":/dpx20remote/openapi.json"));
        if (!document.open(QIODevice::ReadOnly)) return Refusal(404, "the OpenAPI document is not built in");
        return Response{200, document.readAll().toStdString(), {}, {}};
    }
    // One box's state, or those of every box a service serves.
    const Json state = api_.State();
    const Json* several = state.Find("boxes");
    Json boxes = Json::Array();
    std::vector<const Json*> states;
    if (several) for (const Json& item : several->Items()) states.push_back(&item);
    else states.push_back(&state);
    for (const Json* one : states) {
        Json box = Json::Object();
        for (const char* field : {"box", "label", "location", "device", "port_kind", "connected", "connection", "logged_in", "start_error"})
            if (const Json* value = one->Find(field)) box.Set(field, *value);
        boxes.Push(std::move(box));
    }
    Json answer = Json::Object();
    answer.Set("version", kVersion).Set("ok", true).Set("error", Json()).Set("result", Json()).Set("meaning", Json());
    answer.Set("program", QCoreApplication::applicationName().toStdString())
        .Set("program_version", DPX20_VERSION)
        .Set("host", !states.empty() && states.front()->Find("host") ? *states.front()->Find("host") : Json())
        .Set("uptime_s", clock_.elapsed() / 1000)
        .Set("tls", tls_.has_value())
        .Set("event_clients", EventClients())
        .Set("boxes", std::move(boxes));
    return Response{200, answer.Dump(), {}, {}};
}

}  // namespace dpx::api
