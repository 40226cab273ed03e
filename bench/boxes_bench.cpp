// Several boxes from one service: how long N boxes at 9600-baud wire timing take to be logged in
// and synchronised together against one box alone, what a PUT to a healthy box costs while
// another is silent mid-synchronisation, and the service's memory and CPU per box. Prints
// figures only.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "model/SettingsRecord.h"
#include "settings/OptionFile.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestApp.h"

namespace {

using dpx::test::SimProcess;

QString CtlProgram() {
    return QString::fromStdString(SimProcess::Program()).replace(QStringLiteral("dpx20sim"), QStringLiteral("dpx20ctl"));
}

// The service of `boxes` simulators, each pushed `file` before serving; the time until it
// listens, which is after every box logged in and took the file.
struct Service {
    QProcess process;
    QString url;
    double start_ms = 0;
};

std::unique_ptr<Service> Serve(const std::vector<std::unique_ptr<SimProcess>>& sims, const QString& file) {
    auto service = std::make_unique<Service>();
    QStringList args{"serve", "--api", "127.0.0.1:0", "--sync", file};
    for (std::size_t i = 0; i < sims.size(); ++i)
        args << "--box" << QString::fromStdString("box" + std::to_string(i) + "=" + sims[i]->LinkPath());
    QElapsedTimer timer;
    timer.start();
    service->process.start(CtlProgram(), args);
    static const QRegularExpression kAt(QStringLiteral("control API at (\\S+)"));
    QString out;
    while (service->url.isEmpty() && service->process.waitForReadyRead(60000)) {
        out += service->process.readAllStandardOutput();
        if (const auto m = kAt.match(out); m.hasMatch()) service->url = m.captured(1);
    }
    service->start_ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    return service;
}

double Http(QNetworkAccessManager& network, const QString& url, const QByteArray& method, const QByteArray& body) {
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, method, body));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long RssKb(qint64 pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// User and system CPU time of `pid` in clock ticks.
long CpuTicks(qint64 pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::vector<std::string> fields;
    std::size_t at = close + 2;
    while (at < text.size()) {
        const std::size_t end = text.find(' ', at);
        fields.push_back(text.substr(at, end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return fields.size() > 12 ? std::stol(fields[11]) + std::stol(fields[12]) : 0;
}

std::vector<std::unique_ptr<SimProcess>> Sims(int n, std::vector<std::string> options = {"--wire"}) {
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int i = 0; i < n; ++i) sims.push_back(std::make_unique<SimProcess>(options));
    return sims;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    dpx::test::TemporaryCurrentDir dir;
    dpx::SettingsRecord record;
    record.sys_input_select = 0;  // SDI-LR: the longest pass
    const QString file = QStringLiteral("push.sav");
    dpx::WriteOptionFile(file.toStdString(), record);

    double one_ms = 0;
    for (const int n : {1, 4, 8}) {
        auto sims = Sims(n);
        auto service = Serve(sims, file);
        if (service->url.isEmpty()) {
            std::fprintf(stderr, "boxes_bench: the service of %d boxes did not start\n", n);
            return 1;
        }
        if (n == 1) one_ms = service->start_ms;
        const qint64 pid = service->process.processId();
        const long rss = RssKb(pid);
        const long cpu_before = CpuTicks(pid);
        QThread::sleep(3);
        const double idle_cpu = 100.0 * static_cast<double>(CpuTicks(pid) - cpu_before) / (3.0 * sysconf(_SC_CLK_TCK));
        std::printf("%d box%s at 9600-baud wire timing logged in and synchronised in %.0f ms (%.2f x one box); "
                    "service memory %ld kB; CPU while idle %.1f %%\n",
                    n, n == 1 ? "" : "es", service->start_ms, service->start_ms / one_ms, rss, idle_cpu);
        service->process.terminate();
        service->process.waitForFinished(10000);
    }

    // A PUT to a healthy box, alone and while another box is silent mid-synchronisation.
    std::vector<std::unique_ptr<SimProcess>> sims;
    sims.push_back(std::make_unique<SimProcess>());
    sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{"--silent-after", "30"}));
    auto service = Serve(sims, file);
    QNetworkAccessManager network;
    constexpr int kRuns = 30;
    std::vector<double> alone, beside;
    for (int i = 0; i < kRuns; ++i)
        alone.push_back(Http(network, service->url + "/boxes/box0/settings", "PUT", QByteArray("{\"sys_beep\": ") + QByteArray::number(i % 2) + "}"));
    std::unique_ptr<QNetworkReply> sync(network.post(QNetworkRequest{QUrl(service->url + "/boxes/box1/sync")}, QByteArray()));
    for (int i = 0; i < kRuns && !sync->isFinished(); ++i) {
        beside.push_back(Http(network, service->url + "/boxes/box0/settings", "PUT", QByteArray("{\"sys_beep\": ") + QByteArray::number(i % 2) + "}"));
        QThread::msleep(20);
    }
    QEventLoop loop;
    QObject::connect(sync.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!sync->isFinished()) loop.exec();
    const QByteArray answer = sync->readAll();
    std::printf("PUT to a healthy box: median %.2f ms alone, %.2f ms while another box is silent mid-synchronisation "
                "(%zu requests)\n",
                Median(alone), Median(beside), beside.size());
    std::printf("the silent box's synchronisation: %s\n", answer.left(160).constData());
    service->process.terminate();
    service->process.waitForFinished(10000);
    return 0;
}
