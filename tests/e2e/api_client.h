#pragma once
// Qt's own HTTP and WebSocket clients against the control API, waiting on the event loop, and
// `dpx20ctl serve` as a child process: what the API tests share. Every answer and event they
// receive is checked against the OpenAPI document the server serves.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QWebSocket>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/openapi_check.h"
#include "tests/support/SimProcess.h"

namespace dpx::test {

struct HttpResult {
    int status = 0;
    QJsonObject json;
    QByteArray body;
};

// The OpenAPI document served below `api_url` (".../api/v1"), fetched once per server.
const OpenApi& ServedDocument(const QString& api_url);

// One request; `token` non-empty sends it as the Bearer token. Waits at most 60 s.
HttpResult Http(const QString& url, const QByteArray& method, const QByteArray& body = {}, const QByteArray& token = {});

// The events of GET /api/v1/events, in order.
class EventClient {
public:
    explicit EventClient(const QString& api_url);
    // Waits until at least `count` events came (at most `ms`); false if they did not.
    bool WaitFor(int count, int ms = 10000);
    const std::vector<QJsonObject>& Events() const { return events_; }
    QWebSocket& Socket() { return socket_; }

private:
    QWebSocket socket_;
    std::vector<QJsonObject> events_;
};

// dpx20ctl (built beside dpx20sim) run with `args` in the current directory.
QString CtlProgram();

// `dpx20ctl serve` with `args`; Url() is what it prints once it listens ("" if it did not).
class ServeProcess {
public:
    explicit ServeProcess(const QStringList& args);
    ~ServeProcess();
    const QString& Url() const { return url_; }
    QString Output() { return out_ + process_.readAllStandardError(); }
    // SIGTERM; true when the service ended within `ms` with exit code 0.
    bool Terminate(int ms) {
        process_.terminate();
        return process_.waitForFinished(ms) && process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    }

private:
    QProcess process_;
    QString url_;
    QString out_;
};

// ---------------------------------------------------------------- definitions
inline HttpResult Send(const QString& url, const QByteArray& method, const QByteArray& body, const QByteArray& token) {
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(60000);
    if (!token.isEmpty()) request.setRawHeader("Authorization", "Bearer " + token);
    std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, method, body));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    HttpResult r;
    r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    r.body = reply->readAll();
    r.json = QJsonDocument::fromJson(r.body).object();
    return r;
}

inline const OpenApi& ServedDocument(const QString& api_url) {
    static std::map<QString, std::unique_ptr<OpenApi>> documents;
    std::unique_ptr<OpenApi>& document = documents[api_url];
    if (!document) document = std::make_unique<OpenApi>(Send(api_url + QStringLiteral("/openapi.json"), "GET", {}, {}).body);
    return *document;
}

inline HttpResult Http(const QString& url, const QByteArray& method, const QByteArray& body, const QByteArray& token) {
    HttpResult r = Send(url, method, body, token);
    const qsizetype base = url.indexOf(QStringLiteral("/api/v1"));
    if (base < 0 || r.status == 0) return r;
    const QString api_url = url.left(base + 7);
    const OpenApi& document = ServedDocument(api_url);
    EXPECT_TRUE(document.Loaded()) << api_url.toStdString();
    QString path = QUrl(url).path();
    path = path.mid(path.indexOf(QStringLiteral("/api/v1")) + 7);
    const QString why = document.CheckAnswer(QString::fromLatin1(method), path, r.status, r.body);
    EXPECT_TRUE(why.isEmpty()) << method.data() << " " << url.toStdString() << " " << r.status << ": " << why.toStdString();
    return r;
}

inline EventClient::EventClient(const QString& api_url) {
    const OpenApi& document = ServedDocument(api_url);
    QObject::connect(&socket_, &QWebSocket::textMessageReceived, [this, &document](const QString& text) {
        events_.push_back(QJsonDocument::fromJson(text.toUtf8()).object());
        const bool state = events_.back()[QStringLiteral("event")] == QStringLiteral("state");
        const bool several = events_.back().contains(QStringLiteral("boxes"));
        const QString why = document.CheckSchema(
            state ? (several ? QStringLiteral("BoxesState") : QStringLiteral("State")) : QStringLiteral("Change"), events_.back());
        EXPECT_TRUE(why.isEmpty()) << text.toStdString() << ": " << why.toStdString();
    });
    QString ws = api_url + QStringLiteral("/events");
    socket_.open(QUrl(ws.replace(QStringLiteral("http://"), QStringLiteral("ws://"))));
}

inline bool EventClient::WaitFor(int count, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (static_cast<int>(events_.size()) < count && timer.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return static_cast<int>(events_.size()) >= count;
}

inline QString CtlProgram() {
    return QString::fromStdString(SimProcess::Program()).replace(QStringLiteral("dpx20sim"), QStringLiteral("dpx20ctl"));
}

inline ServeProcess::ServeProcess(const QStringList& args) {
    process_.start(CtlProgram(), QStringList{QStringLiteral("serve")} + args);
    static const QRegularExpression kAt(QStringLiteral("control API at (\\S+)"));
    QElapsedTimer timer;
    timer.start();
    while (url_.isEmpty() && process_.state() != QProcess::NotRunning && timer.elapsed() < 30000) {
        process_.waitForReadyRead(100);
        out_ += process_.readAllStandardOutput();
        if (const QRegularExpressionMatch m = kAt.match(out_); m.hasMatch()) url_ = m.captured(1);
    }
}

inline ServeProcess::~ServeProcess() {
    process_.terminate();
    if (!process_.waitForFinished(10000)) process_.kill();
}

}  // namespace dpx::test
