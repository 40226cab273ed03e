// The control API's costs: a one-key PUT /settings through the panel's host and through the
// service, against the link transaction it runs (dpx20sim on a pseudo-terminal, real Qt serial
// backend) and the options file's save it makes; 200 requests a second for 10 s (queue and memory); the time from a change to its
// event on a WebSocket client; a client among 70 idle connections; a burst of one setting's
// events; an HTTPS round trip. Prints figures only.
// Usage: api_bench [seconds of the load run] (default 10). Runs offscreen without a display.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "http/ApiServer.h"
#include "api/ControlApi.h"
#include "app/PanelApi.h"
#include "app/TopDialog.h"
#include "link/RS232c_bios.h"
#include "model/SettingTable.h"
#include "settings/OptionFile.h"
#include "platform/ComPorts.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestApp.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

long RssKb() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

// One request on the event loop; the milliseconds it took.
double Request(QNetworkAccessManager& network, const QString& url, const QByteArray& method, const QByteArray& body) {
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    const Clock::time_point start = Clock::now();
    std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, method, body));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->readAll();
    return Ms(Clock::now() - start);
}

const dpx::Setting& Parallax() { return *dpx::FindSetting("sys_adj3d_para"); }

// The key of the PUT whose cost is measured: one the box takes in any state with one frame.
const dpx::Setting& Beep() { return *dpx::FindSetting("sys_beep"); }
QByteArray BeepBody(int i) { return "{\"" + QByteArray(Beep().key) + "\":" + QByteArray::number(i % 2) + "}"; }

// Runs `client` on a thread of its own while this thread's event loop serves, so that the
// client does not wait for the server's work (and the server not for the client's).
void RunClient(const std::function<void()>& client) {
    QEventLoop loop;
    std::thread thread([&] {
        client();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    thread.join();
}

// Waits `ms` on the event loop.
void Idle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// One save of the options file of a record, as a PUT makes it: in a folder of its own,
// replacing the one before and flushed to disk; the milliseconds it took.
double SaveTime(int i) {
    const std::filesystem::path folder = std::filesystem::current_path() / "save";
    std::filesystem::create_directory(folder);
    dpx::SettingsRecord record;
    record.*Beep().field = i % 2;
    const Clock::time_point start = Clock::now();
    dpx::WriteOptionFile(folder / "dpx20remote.ini", record);
    return Ms(Clock::now() - start);
}

// The median one-key PUT through `through`, against `transaction`, the median link
// transaction of the same command on the same box and port, and the median save of the
// options file that the PUT makes (four saves before each PUT, so that both meet the same
// disk): one PUT at a time, as a button press sends it, and back to back, where each waits for
// the options file that the one before it flushed.
void PutCost(const char* through, const QString& url, double transaction, int runs) {
    QNetworkAccessManager network;
    std::vector<double> single, burst, save, state;
    for (int i = 0; i < runs; ++i) {
        Idle(50);
        for (int k = 0; k < 4; ++k) save.push_back(SaveTime(4 * i + k));
        single.push_back(Request(network, url + "/settings", "PUT", BeepBody(i)));
        Idle(5);
        state.push_back(Request(network, url + "/state", "GET", {}));
    }
    for (int i = 0; i < runs; ++i) burst.push_back(Request(network, url + "/settings", "PUT", BeepBody(i)));
    const double overhead = Median(single) - transaction;
    std::printf("PUT /settings, one key, through the %s: median %.2f ms; link transaction median %.2f ms; "
                "API cost %.2f ms (target: at most 2 ms); back to back median %.2f ms (each waits for the "
                "options file the one before flushed)\n",
                through, Median(single), transaction, overhead, Median(burst));
    std::printf("PUT overhead over the link through the %s: %.2f ms median, of which the options file's save "
                "%.2f ms (its own median of %zu saves between the PUTs, the disk's sync included); overhead "
                "without the save %.2f ms (aim: at most 0.3 ms)\n",
                through, overhead, Median(save), save.size(), overhead - Median(save));
    // GET /state on the same connection is the HTTP round trip with no work of the box: client,
    // transport and JSON. What a change adds to it is the box's side: its queue, rules and events.
    const double round_trip = Median(state);
    std::printf("PUT through the %s beside a GET /state (%.2f ms, the HTTP round trip alone): the change adds "
                "%.2f ms besides the link and the save (aim: at most 0.3 ms)\n",
                through, round_trip, Median(single) - round_trip - transaction - Median(save));
}

// The median time of the measured PUT's command's transaction on `link`.
double TransactionMedian(dpx::RS232c_bios& link, int runs) {
    std::vector<double> transaction;
    for (int i = 0; i < runs; ++i) {
        const Clock::time_point start = Clock::now();
        link.SetValue(Beep().command, i % 2);
        transaction.push_back(Ms(Clock::now() - start));
    }
    return Median(transaction);
}

// `rate` requests a second (PUT and GET /state in turn) for `seconds`: the most requests
// outstanding at once, and the memory at the start, half-way and the end.
void Load(const QString& url, int rate, int seconds) {
    QNetworkAccessManager network;
    int sent = 0, answered = 0, outstanding_max = 0;
    std::map<int, int> statuses;
    long rss_start = RssKb(), rss_half = 0;
    QTimer tick;
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 due = elapsed.elapsed() * rate / 1000;
        while (sent < due && elapsed.elapsed() < seconds * 1000LL) {
            QNetworkRequest request{QUrl(url + (sent % 2 ? "/state" : "/settings"))};
            request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
            QNetworkReply* reply = sent % 2 ? network.get(request) : network.put(request, BeepBody(sent / 2));
            QObject::connect(reply, &QNetworkReply::finished, [&, reply] {
                ++answered;
                ++statuses[reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt()];
                reply->deleteLater();
                if (answered == sent && elapsed.elapsed() >= seconds * 1000LL) loop.quit();
            });
            ++sent;
            outstanding_max = std::max(outstanding_max, sent - answered);
        }
        if (rss_half == 0 && elapsed.elapsed() >= seconds * 500LL) rss_half = RssKb();
        if (elapsed.elapsed() >= seconds * 1000LL && answered == sent) loop.quit();
    });
    tick.start(1);
    loop.exec();
    std::string by_status;
    for (const auto& [status, count] : statuses) by_status += (by_status.empty() ? "" : ", ") + std::to_string(count) + " x " + std::to_string(status);
    std::printf("%d requests a second for %d s: %d sent, %d answered (%s), at most %d outstanding; "
                "memory %ld kB at the start, %ld kB half-way, %ld kB at the end\n",
                rate, seconds, sent, answered, by_status.c_str(), outstanding_max, rss_start, rss_half, RssKb());
}

// From a change of the settings to its event on a WebSocket client, the changes spaced as an
// operator makes them.
void EventLatency(const QString& url, dpx::api::ControlApi& api, dpx::SettingsRecord& record, int runs) {
    QWebSocket socket;
    std::vector<double> latency;
    Clock::time_point changed;
    int received = 0;
    QEventLoop loop;
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString&) {
        if (received++ > 0) latency.push_back(Ms(Clock::now() - changed));
        loop.quit();
    });
    socket.open(QUrl(QString(url + "/events").replace(QStringLiteral("http://"), QStringLiteral("ws://"))));
    loop.exec();  // the state event
    for (int i = 0; i < runs; ++i) {
        // Changes of one setting closer together than this are coalesced (EventBurst).
        Idle(1000 / dpx::api::ApiServer::kSettingEventsPerSecond + 5);
        record.*Parallax().field = i % 2;
        changed = Clock::now();
        api.Notify(dpx::Source::kPanel);
        loop.exec();
    }
    std::printf("event on a WebSocket client after a change: median %.2f ms, max %.2f ms (target: within 5 ms)\n",
                Median(latency), latency.empty() ? 0 : *std::max_element(latency.begin(), latency.end()));
}

// With 70 idle TCP connections held open (each reopened as soon as the server closes it), how
// soon a client's GET /state on a new connection is answered.
void LockOut(const QString& url, int probes) {
    const QUrl target(url);
    const auto port = static_cast<quint16>(target.port());
    std::vector<std::unique_ptr<QTcpSocket>> idle(70);
    const auto reopen = [&] {
        for (auto& socket : idle) {
            if (socket && socket->state() == QAbstractSocket::ConnectedState) continue;
            socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, port);
            socket->waitForConnected(1000);
        }
    };
    std::vector<double> answer;
    int answered = 0;
    for (int i = 0; i < probes; ++i) {
        reopen();
        for (auto& socket : idle) socket->waitForReadyRead(0);  // notices the ones closed meanwhile
        reopen();
        QTcpSocket client;
        const Clock::time_point start = Clock::now();
        client.connectToHost(QHostAddress::LocalHost, port);
        client.waitForConnected(5000);
        client.write("GET " + target.path().toUtf8() + "/state HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        QByteArray got;
        while (client.waitForReadyRead(5000)) got += client.readAll();
        got += client.readAll();
        if (got.startsWith("HTTP/1.1 200")) {
            ++answered;
            answer.push_back(Ms(Clock::now() - start));
        }
    }
    std::printf("GET /state with 70 idle connections held open (reopened as they are closed): %d of %d "
                "answered, median %.2f ms, max %.2f ms (target: within 1000 ms)\n",
                answered, probes, Median(answer), answer.empty() ? 0 : *std::max_element(answer.begin(), answer.end()));
}

// One setting changed 1000 times in a second: the events of it that one WebSocket client receives.
void EventBurst(const QString& url, dpx::api::ControlApi& api, dpx::SettingsRecord& record) {
    QWebSocket socket;
    int events = 0;
    int last = -1;
    QEventLoop loop;
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString& text) {
        const QJsonObject e = QJsonDocument::fromJson(text.toUtf8()).object();
        if (e["event"].toString() == "state") return loop.quit();
        if (e["key"].toString() != Parallax().key) return;
        ++events;
        last = e["value"].toInt();
    });
    socket.open(QUrl(QString(url + "/events").replace(QStringLiteral("http://"), QStringLiteral("ws://"))));
    loop.exec();
    const int high = Parallax().Range().high;
    int changes = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < 1000) {
        const qint64 due = elapsed.elapsed();
        for (; changes < due; ++changes) {
            record.*Parallax().field = changes % (high + 1);
            api.Notify(dpx::Source::kPanel);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    const double seconds = static_cast<double>(elapsed.elapsed()) / 1000.0;
    Idle(200);
    std::printf("one setting changed %d times in %.2f s: %d events reached a client, the last with %s value "
                "(at most %d a second)\n",
                changes, seconds, events, last == (changes - 1) % (high + 1) ? "the latest" : "an old",
                dpx::api::ApiServer::kSettingEventsPerSecond);
}

// GET /state over HTTPS: on a new connection each time (TLS handshake included) and on one kept
// open.
void TlsRoundTrip(const QString& url, const QString& cert, int runs) {
    QSslConfiguration trust = QSslConfiguration::defaultConfiguration();
    trust.setCaCertificates(QSslCertificate::fromPath(cert));
    std::vector<double> fresh, kept;
    QNetworkAccessManager network;
    for (int i = 0; i < 2 * runs; ++i) {
        if (i < runs) network.clearConnectionCache();
        QNetworkRequest request{QUrl(url + "/state")};
        request.setSslConfiguration(trust);
        const Clock::time_point start = Clock::now();
        std::unique_ptr<QNetworkReply> reply(network.get(request));
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        if (reply->error() != QNetworkReply::NoError) {
            std::printf("HTTPS: %s\n", reply->errorString().toUtf8().constData());
            return;
        }
        (i < runs ? fresh : kept).push_back(Ms(Clock::now() - start));
    }
    std::printf("GET /state over HTTPS (RSA 2048): new connection with handshake median %.2f ms, on a kept "
                "connection median %.2f ms\n",
                Median(fresh), Median(kept));
}

// `dpx20ctl serve` with `extra` arguments; its URL, empty when it did not start.
QString StartServe(QProcess& serve, const std::string& link, const QStringList& extra) {
    serve.start(QString::fromStdString(dpx::test::SimProcess::Program()).replace("dpx20sim", "dpx20ctl"),
                QStringList{"serve", "-p", QString::fromStdString(link), "--api", "127.0.0.1:0"} + extra);
    QString out, url;
    static const QRegularExpression kAt(QStringLiteral("control API at (\\S+)"));
    while (url.isEmpty() && serve.waitForReadyRead(10000)) {
        out += serve.readAllStandardOutput();
        if (const auto m = kAt.match(out); m.hasMatch()) url = m.captured(1);
    }
    if (url.isEmpty())
        std::fprintf(stderr, "api_bench: the service did not start: %s\n", serve.readAllStandardError().constData());
    return url;
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    QApplication& application = dpx::test::TestApp();
    (void)application;
    dpx::test::TemporaryCurrentDir dir;
    dpx::test::SimProcess sim;
    if (!sim.Ok()) {
        std::fprintf(stderr, "api_bench: %s\n", sim.Error().c_str());
        return 1;
    }
    qputenv("DPX20_COM1", QByteArray::fromStdString(sim.LinkPath()));
    constexpr int kRuns = 50;
    double transaction = 0;

    {
        dpx::RS232c_bios link;
        link.SetPortFactory(dpx::platform::MakePortFactory(), dpx::platform::ComDeviceName);
        dpx::TopDialog panel(link);
        panel.EnsureInitialised();
        dpx::SettingsRecord& record = panel.BoxSession().Record();
        record.com_port_num = 1;
        link.SetComNumber(1);
        link.ConnectLink(1);
        panel.BoxSession().SetWanted(true);
        dpx::PanelApi api(panel);
        std::string why;
        if (!api.Start("127.0.0.1:0", &why)) {
            std::fprintf(stderr, "api_bench: %s\n", why.c_str());
            return 1;
        }
        const QString url = QString::fromStdString(api.Where());
        transaction = TransactionMedian(link, kRuns);
        RunClient([&] { PutCost("panel", url, transaction, kRuns); });
        EventLatency(url, api.Api(), record, kRuns);
        EventBurst(url, api.Api(), record);
        RunClient([&] { Load(url, 200, seconds); });
        link.ConnectLink(0);
        link.ClosePorts();
    }

    QProcess serve;
    const QString url = StartServe(serve, sim.LinkPath(), {});
    if (url.isEmpty()) return 1;
    RunClient([&] { PutCost("service", url, transaction, kRuns); });
    RunClient([&] { LockOut(url, 50); });
    serve.terminate();
    serve.waitForFinished(10000);

    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                                              "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                                              "key.pem", "-out", "cert.pem"});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
        std::fprintf(stderr, "api_bench: openssl: %s\n", openssl.readAllStandardError().constData());
        return 1;
    }
    QProcess tls_serve;
    const QString tls_url = StartServe(tls_serve, sim.LinkPath(), {"--api-cert", "cert.pem", "--api-key", "key.pem"});
    if (tls_url.isEmpty()) return 1;
    RunClient([&] { TlsRoundTrip(tls_url, QStringLiteral("cert.pem"), kRuns); });
    tls_serve.terminate();
    tls_serve.waitForFinished(10000);
    return 0;
}
