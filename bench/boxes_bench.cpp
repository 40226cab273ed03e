// Several boxes from one service: how long N boxes at 9600-baud wire timing take to be logged in
// and synchronised together against one box alone, what a PUT to a healthy box costs while
// another is silent mid-synchronisation, and the service's memory and CPU per box; sustained
// PUTs a second for one box and for four, an idle box's answer meanwhile, how often the idle
// service wakes, and what one box's slow disk does to another box's answer. Prints figures only.
// Usage: boxes_bench [seconds of each sustained run] (default 5).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
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

// `file` empty: no file is pushed. `env`: the service's environment.
std::unique_ptr<Service> Serve(const std::vector<std::unique_ptr<SimProcess>>& sims, const QString& file,
                               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    auto service = std::make_unique<Service>();
    service->process.setProcessEnvironment(env);
    QStringList args{"serve", "--api", "127.0.0.1:0"};
    if (!file.isEmpty()) args << "--sync" << file;
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

// One kept-alive HTTP/1.1 connection to the service, blocking, for a client thread of its own
// (a Qt network manager would need this thread's event loop).
class Connection {
public:
    explicit Connection(const QUrl& base) : port_(static_cast<quint16>(base.port())), base_(base.path().toStdString()) {}
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Sends one request and reads its whole answer: the status (0 when the connection failed,
    // which is opened again for the next request) and the milliseconds it took.
    int Request(const std::string& method, const std::string& path, const std::string& body, double& ms) {
        const auto start = std::chrono::steady_clock::now();
        if (fd_ < 0 && !Open()) return 0;
        const std::string request = method + " " + base_ + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                    "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                                    "\r\n\r\n" + body;
        int status = 0;
        if (SendAll(request)) status = ReadAnswer();
        if (status == 0) Close();
        ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        return status;
    }

private:
    bool Open() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port_);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return true;
        Close();
        return false;
    }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool SendAll(const std::string& text) {
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    // The answer's head, then as many bytes of body as its Content-Length says.
    int ReadAnswer() {
        std::string got;
        std::size_t head_end;
        while ((head_end = got.find("\r\n\r\n")) == std::string::npos)
            if (!Receive(got)) return 0;
        std::string head = got.substr(0, head_end);
        std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
        const std::size_t length_at = head.find("content-length:");
        const std::size_t length = length_at == std::string::npos ? 0 : std::strtoul(head.c_str() + length_at + 15, nullptr, 10);
        while (got.size() < head_end + 4 + length)
            if (!Receive(got)) return 0;
        return head.rfind("http/1.1 ", 0) == 0 ? std::atoi(head.c_str() + 9) : 0;
    }
    bool Receive(std::string& into) {
        char buffer[16384];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        into.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    int fd_ = -1;
    quint16 port_;
    std::string base_;
};

// A client of one box on a connection of its own: its requests in turn (PUT /settings with
// sys_beep flipped, or GET /state), `pause_ms` apart (0: back to back); the milliseconds of
// each one answered 200, by method.
struct Client {
    std::string box;
    std::vector<std::string> methods;
    int pause_ms = 0;
    std::map<std::string, std::vector<double>> ms;
};

// Runs every client on a thread of its own for `seconds`, while this thread's event loop goes
// on reading the service's output.
void Run(const QString& url, std::vector<Client>& clients, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::atomic<std::size_t> running{clients.size()};
    QEventLoop loop;
    std::vector<std::thread> threads;
    for (Client& client : clients)
        threads.emplace_back([&, base = QUrl(url)] {
            Connection connection(base);
            for (std::size_t i = 0; std::chrono::steady_clock::now() < end; ++i) {
                const std::string& method = client.methods[i % client.methods.size()];
                const bool put = method == "PUT";
                double ms = 0;
                if (connection.Request(method, "/boxes/" + client.box + (put ? "/settings" : "/state"),
                                       put ? "{\"sys_beep\": " + std::to_string(i / client.methods.size() % 2) + "}" : "",
                                       ms) == 200)
                    client.ms[method].push_back(ms);
                if (client.pause_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(client.pause_ms));
            }
            if (--running == 0) QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    loop.exec();
    for (std::thread& thread : threads) thread.join();
}

// Context switches of every thread of `pid` over `seconds`, a second: how often it wakes.
double WakeUps(qint64 pid, int seconds) {
    const auto switches = [pid] {
        long total = 0;
        for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
            std::ifstream status(task.path() / "status");
            for (std::string line; std::getline(status, line);)
                if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                    total += std::stol(line.substr(line.find(':') + 1));
        }
        return total;
    };
    const long before = switches();
    QThread::sleep(static_cast<unsigned long>(seconds));
    return static_cast<double>(switches() - before) / seconds;
}

// Sustained PUTs: `driven` boxes of a service of driven + 1, each PUT back to back by a client
// of its own, while the last box, idle, is asked GET /state every 5 ms. PUTs a second in all,
// their median, the idle box's median, the service's CPU share meanwhile (100: one core).
struct Sustained {
    double puts_per_second = 0, put_median = 0, idle_get_median = 0, idle_wakeups = -1, cpu_percent = 0;
};

Sustained SustainedPuts(int driven, double seconds, bool wakeups) {
    Sustained figures;
    auto sims = Sims(driven + 1, {"--quiet"});
    auto service = Serve(sims, QString());
    if (service->url.isEmpty()) return figures;
    if (wakeups) {
        QThread::sleep(1);  // settled after the login
        figures.idle_wakeups = WakeUps(service->process.processId(), 3);
    }
    std::vector<Client> clients;
    for (int i = 0; i < driven; ++i) clients.push_back({"box" + std::to_string(i), {"PUT"}, 0, {}});
    clients.push_back({"box" + std::to_string(driven), {"GET"}, 5, {}});
    const long cpu_before = CpuTicks(service->process.processId());
    Run(service->url, clients, seconds);
    figures.cpu_percent = 100.0 * static_cast<double>(CpuTicks(service->process.processId()) - cpu_before) /
                          (seconds * static_cast<double>(sysconf(_SC_CLK_TCK)));
    std::vector<double> puts;
    for (int i = 0; i < driven; ++i) puts.insert(puts.end(), clients[i].ms["PUT"].begin(), clients[i].ms["PUT"].end());
    figures.puts_per_second = static_cast<double>(puts.size()) / seconds;
    figures.put_median = Median(puts);
    figures.idle_get_median = Median(clients.back().ms["GET"]);
    service->process.terminate();
    service->process.waitForFinished(10000);
    return figures;
}

// One box (box0) on a slow disk: fsync in its folder 10 ms slower, through a library preloaded
// into the service. Another box's (box1) PUT and GET /state, one every 10 ms, while box0 is
// left alone and while box0 is PUT back to back.
void SlowDisk(double seconds) {
    auto sims = Sims(2, {"--quiet"});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(DPX20_SLOW_FSYNC));
    const std::string slow = (std::filesystem::canonical(std::filesystem::current_path()) / "box0").string();
    env.insert(QStringLiteral("DPX20_BENCH_SLOW_FOLDER"), QString::fromStdString(slow));
    // A sanitized service checks that its runtime comes first, which the preloaded library is.
    env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) + ":verify_asan_link_order=0");
    auto service = Serve(sims, QString(), env);
    if (service->url.isEmpty()) {
        std::fprintf(stderr, "boxes_bench: the service with a slow disk did not start\n");
        return;
    }
    std::vector<Client> alone{{"box1", {"PUT", "GET"}, 10, {}}};
    Run(service->url, alone, seconds);
    std::vector<Client> beside{{"box1", {"PUT", "GET"}, 10, {}}, {"box0", {"PUT"}, 0, {}}};
    Run(service->url, beside, seconds);
    std::printf("slow disk for box0 (every fsync in its folder 10 ms slower): box0 driven %.0f PUTs/s, PUT median "
                "%.2f ms; box1 PUT median %.2f ms, GET /state median %.2f ms while box0 is left alone, "
                "%.2f ms and %.2f ms while box0 is driven (aim: one box's slow disk does not move another box's "
                "answer)\n",
                static_cast<double>(beside[1].ms["PUT"].size()) / seconds, Median(beside[1].ms["PUT"]),
                Median(alone[0].ms["PUT"]), Median(alone[0].ms["GET"]), Median(beside[0].ms["PUT"]),
                Median(beside[0].ms["GET"]));
    service->process.terminate();
    service->process.waitForFinished(10000);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5;
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

    // One box and four in turn, three times: the disk's sync time drifts with what else the
    // machine writes, and each pair meets the same disk.
    std::printf("sustained PUTs, each box by a client of its own on a kept-alive connection for %.0f s a run:\n", seconds);
    std::vector<Sustained> ones, fours;
    for (int round = 1; round <= 3; ++round) {
        ones.push_back(SustainedPuts(1, seconds, round == 1));
        fours.push_back(SustainedPuts(4, seconds, false));
        const Sustained& one = ones.back();
        const Sustained& four = fours.back();
        std::printf("  run %d: 1 box %.0f PUTs/s, PUT median %.2f ms, an idle box's GET /state median %.2f ms, "
                    "service CPU %.0f %%; 4 boxes %.0f PUTs/s in all (%.2f x one box), PUT median %.2f ms, an idle "
                    "box's GET /state median %.2f ms, service CPU %.0f %%\n",
                    round, one.puts_per_second, one.put_median, one.idle_get_median, one.cpu_percent,
                    four.puts_per_second, one.puts_per_second > 0 ? four.puts_per_second / one.puts_per_second : 0.0,
                    four.put_median, four.idle_get_median, four.cpu_percent);
    }
    const auto median_of = [](const std::vector<Sustained>& runs, double Sustained::*figure) {
        std::vector<double> values;
        for (const Sustained& run : runs) values.push_back(run.*figure);
        return Median(values);
    };
    const double one_rate = median_of(ones, &Sustained::puts_per_second);
    const double four_rate = median_of(fours, &Sustained::puts_per_second);
    std::printf("  median of the runs: 1 box %.0f PUTs/s; 4 boxes %.0f PUTs/s in all, %.2f x one box (aim: four boxes "
                ">= 3.5 x one box); an idle box's GET /state median %.2f ms beside one box, %.2f ms beside four\n",
                one_rate, four_rate, one_rate > 0 ? four_rate / one_rate : 0.0, median_of(ones, &Sustained::idle_get_median),
                median_of(fours, &Sustained::idle_get_median));
    std::printf("idle service of 2 boxes: %.1f wake-ups a second over 3 s (every thread's context switches; aim: 0)\n",
                ones.front().idle_wakeups);
    SlowDisk(seconds);
    return 0;
}
