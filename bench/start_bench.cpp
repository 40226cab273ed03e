// What a program's start costs against dpx20sim on a pseudo-terminal with the real Qt serial
// backend: a new link opens the port and logs in, as each run of dpx20ctl does.
//  (a) a clean start (the last program gave nothing up), with the record of replies given up
//      looked for (as the programs do) and without it, in alternating blocks: median and 95th
//      percentile of the time to the login's ACK, and their ratio;
//  (b) a start right after a program that gave up a reply the box sends 2.5 s late: the wait
//      before the login, and the login's result;
//  (c) the time a record costs to write and read, alone.
// Prints figures only; the target of (a) is a ratio <= 1.05.
// Usage: start_bench [path to dpx20sim] (default: beside this program).
#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/BenchSim.h"
#include "common/MessageSink.h"
#include "link/AstrayRecords.h"
#include "link/RS232c_bios.h"
#include "platform/ComPorts.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

using dpx::bench::Sim;

// One program's run on the device: a new link, the port opened, the login; then `work` and the
// logoff. Returns the milliseconds from the link's making to the login's end (0: it failed).
template <typename Work>
double Start(const Sim& sim, std::shared_ptr<dpx::AstrayRecords> records, Work work) {
    const auto t0 = Clock::now();
    dpx::RS232c_bios link;
    link.SetDebugMode(0);
    link.SetAstrayRecords(std::move(records));
    const std::string device = sim.Link();
    link.SetPortFactory([device](int) { return dpx::platform::MakeSerialPort(device); });
    const bool ok = link.OpenComPort() == 1 && link.ConnectLink(1) == 1;
    const double ms = Ms(Clock::now() - t0);
    work(link);
    link.ConnectLink(0);
    link.ClosePorts();
    return ok ? ms : 0;
}

class Quiet final : public dpx::MessageSink {
public:
    void Show(const std::string&) override {}
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Quiet quiet;
    dpx::SetMessageSink(&quiet);
    const std::string program = argc > 1 ? argv[1]
        : (std::filesystem::canonical("/proc/self/exe").parent_path() / "dpx20sim").string();
    {   // (a)
        Sim sim(program, {"--quiet"});
        if (!sim.Ok()) { std::fprintf(stderr, "start_bench: %s did not start\n", program.c_str()); return 1; }
        auto records = std::make_shared<dpx::AstrayRecords>(sim.Dir() + "/records");
        std::vector<double> with, without;
        for (int i = 0; i < 60; ++i) {
            const bool on = i / 5 % 2 == 0;  // blocks of 5, so both see the same load
            const double ms = Start(sim, on ? records : nullptr, [](dpx::RS232c_bios& link) {
                link.SendCommand(dpx::kINPUT, 0, 0);
            });
            if (ms == 0) { std::fprintf(stderr, "start_bench: a clean start failed\n"); return 1; }
            (on ? with : without).push_back(ms);
        }
        std::printf("(a) clean start to the login's ACK, %zu runs each: with the record looked for median %.1f ms, "
                    "95th percentile %.1f ms; without median %.1f ms, 95th percentile %.1f ms; ratio %.3f (target <= 1.05)\n",
                    with.size(), Percentile(with, 0.5), Percentile(with, 0.95), Percentile(without, 0.5),
                    Percentile(without, 0.95), Percentile(with, 0.5) / Percentile(without, 0.5));
    }
    {   // (b)
        Sim sim(program, {"--quiet", "--late", "SCPOS:1", "--late-ms", "2500", "--overtake"});
        auto records = std::make_shared<dpx::AstrayRecords>(sim.Dir() + "/records");
        const auto given_up = Clock::now();
        Start(sim, records, [](dpx::RS232c_bios& link) {
            link.SendCommand(dpx::kSCOPE, 0, 0);
            link.SendCommand(dpx::kSCPOS, 0, 1);  // the first write's reply comes 2.5 s late
        });
        const double first = Ms(Clock::now() - given_up);
        int login = -1;
        const double ms = Start(sim, records, [&login](dpx::RS232c_bios& link) { login = link.State().link_connected; });
        std::printf("(b) start after a program that gave up a reply sent 2.5 s late: that program took %.0f ms, the next "
                    "one's login came %.0f ms after its start (%s), %.0f ms after the first began\n",
                    first, ms, login == 1 ? "logged in" : "login failed", first + ms);
    }
    {   // (c)
        char pattern[] = "/tmp/start_bench-records-XXXXXX";
        const std::string dir = ::mkdtemp(pattern) ? pattern : "/tmp/start_bench-records";
        dpx::AstrayRecords records(dir);
        constexpr int kRounds = 2000;
        const auto t0 = Clock::now();
        for (int i = 0; i < kRounds; ++i) records.Read("/dev/ttyUSB0");
        const double read_none = Ms(Clock::now() - t0) / kRounds;
        const auto t1 = Clock::now();
        for (int i = 0; i < kRounds; ++i) records.Write("/dev/ttyUSB0", {1, static_cast<uint32_t>(i)});
        const double write = Ms(Clock::now() - t1) / kRounds;
        const auto t2 = Clock::now();
        for (int i = 0; i < kRounds; ++i) records.Read("/dev/ttyUSB0");
        const double read = Ms(Clock::now() - t2) / kRounds;
        records.Write("/dev/ttyUSB0", {});
        std::filesystem::remove_all(dir);
        std::printf("(c) records: looking for one that is not there %.4f ms, reading one %.4f ms, writing one %.4f ms\n",
                    read_none, read, write);
    }
    return 0;
}
