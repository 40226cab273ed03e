// The dpx20sim program itself, driven over its pseudo-terminal with raw frames.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <sstream>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "model/CommandTable.h"
#include "sim/BoxModel.h"
#include "sim/SimOptions.h"
#include "tests/support/SimProcess.h"

namespace dpx {
namespace {

using namespace std::chrono_literals;

std::vector<uint8_t> Frame(int n, uint8_t value = 0, char sign = '+') {
    uint8_t f[kFrameBufferSize];
    EXPECT_EQ(BuildFrame(n, sign, value, f), kResultOk);
    return {f, f + kFrameSize};
}

// The controller's end: a raw terminal on the simulator's device.
class Client {
public:
    explicit Client(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(fd_, 0) << path;
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    explicit Client(int fd) : fd_(fd) {}
    ~Client() { Close(); }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Sends a frame and returns the reply up to its CR (what came within `ms` if none).
    std::vector<uint8_t> Ask(const std::vector<uint8_t>& frame, int ms = 1000) {
        EXPECT_EQ(::write(fd_, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
        std::vector<uint8_t> reply;
        pollfd p{fd_, POLLIN, 0};
        while ((reply.empty() || reply.back() != '\r') && ::poll(&p, 1, ms) > 0) {
            uint8_t buf[32];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            reply.insert(reply.end(), buf, buf + n);
        }
        return reply;
    }

private:
    int fd_ = -1;
};

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, '\t');) out.push_back(f);
    return out;
}

// Times (ms) of the log lines of direction `dir`.
std::vector<double> Times(const test::SimProcess& sim, const std::string& dir) {
    std::vector<double> t;
    for (const std::string& line : sim.LogLines()) {
        const auto f = Fields(line);
        if (f.size() >= 4 && f[1] == dir) t.push_back(std::stod(f[0]));
    }
    return t;
}

// User plus system CPU of a process in clock ticks.
long CpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i)
        if (i >= 14) ticks += std::stol(field);
    return ticks;
}

std::string Program() { return test::SimProcess::Program(); }

TEST(SimProgram, HelpAndBadArguments) {
    const std::string help = Program() + " --help";
    FILE* out = ::popen(help.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char buf[512];
    while (std::fgets(buf, sizeof buf, out)) text += buf;
    EXPECT_EQ(::pclose(out), 0);
    EXPECT_EQ(text, sim::SimHelpText());
    const std::string bad = Program() + " --drop INPS 2>/dev/null";
    EXPECT_EQ(WEXITSTATUS(std::system(bad.c_str())), 2);
}

TEST(SimProgram, ServesAcrossControllersWithoutSpinning) {
    test::SimProcess sim;
    ASSERT_TRUE(sim.Ok()) << sim.Error();
    EXPECT_EQ(sim.DevicePath().rfind("/dev/pts/", 0), 0u) << sim.DevicePath();
    {
        Client first(sim.LinkPath());
        EXPECT_EQ(first.Ask(Frame(kBCN_Login)), sim::AckReply());
        EXPECT_EQ(first.Ask(Frame(kINPUT)), sim::AckReply());
    }
    // No controller now: the simulator must wait, not spin on the closed side.
    const long before = CpuTicks(sim.Pid());
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(CpuTicks(sim.Pid()) - before, 10);  // a spinning loop would take ~30 ticks

    Client second(sim.LinkPath());
    EXPECT_EQ(second.Ask(Frame(kINPSE, 2)), sim::AckReply());  // still logged in, category kept
    EXPECT_EQ(second.Ask(Frame(kBACKL, 0xE2, '-')), sim::NakReply(2));
    auto state = sim.State();
    EXPECT_EQ(state["requests"], 1);
    EXPECT_EQ(state["sys_input_select"], 2);
    EXPECT_EQ(state["frames"], 4);
    EXPECT_EQ(sim.State()["requests"], 2);

    sim.Stop();
    EXPECT_EQ(::access(sim.LinkPath().c_str(), F_OK), -1);  // the link is gone with it
    EXPECT_EQ(sim.State()["sys_input_select"], 2);          // the dump written at exit
    const std::vector<std::string> log = sim.LogLines();
    ASSERT_EQ(log.size(), 8u);
    const auto recv = Fields(log[4]);
    ASSERT_EQ(recv.size(), 4u);
    EXPECT_EQ(recv[1], "recv");
    EXPECT_EQ(recv[2], "!00INPSE0\\x02\\r");
    EXPECT_EQ(recv[3], "21 30 30 49 4E 50 53 45 30 02 0D");
    EXPECT_EQ(Fields(log[5])[1], "send");
}

TEST(SimProgram, WireTimingDelaysAndFaultsFollowTheOptions) {
    test::SimProcess sim({"--wire", "--late", "INPUT", "--late-ms", "120", "--drop", "INPSE:1",
                          "--cut", "OUTPU", "--cut-bytes", "4", "--nak", "SCOPE=7"});
    ASSERT_TRUE(sim.Ok()) << sim.Error();
    Client c(sim.LinkPath());
    EXPECT_EQ(c.Ask(Frame(kBCN_Login)), sim::AckReply());
    EXPECT_EQ(c.Ask(Frame(kINPUT)), sim::AckReply());
    EXPECT_TRUE(c.Ask(Frame(kINPSE, 1), 150).empty());
    EXPECT_EQ(c.Ask(Frame(kINPSE, 1)), sim::AckReply());  // only the first was dropped
    EXPECT_EQ(c.Ask(Frame(kOUTPU), 150), (std::vector<uint8_t>{'@', '0', '0', 'B'}));
    EXPECT_EQ(c.Ask(Frame(kSCOPE)), sim::NakReply(7));

    // Lower bounds only: a frame takes 11 byte times to come in, a reply 11 to go out.
    const double byte_ms = sim::kWireByteNanos / 1e6;
    const std::vector<double> recv = Times(sim, "recv"), send = Times(sim, "send");
    ASSERT_EQ(recv.size(), 6u);
    ASSERT_EQ(send.size(), 5u);
    EXPECT_GE(send[0] - recv[0], 11 * byte_ms - 0.01);
    EXPECT_GE(send[1] - recv[1], 120 + 11 * byte_ms - 0.01);
    EXPECT_GE(recv[1] - send[0], 11 * byte_ms - 0.01);
    const auto drop = Times(sim, "drop");
    ASSERT_EQ(drop.size(), 1u);
    EXPECT_NE(sim.LogLines().back().find("\t@00BNG\\x07000\\r\t"), std::string::npos);
}

// With --overtake a late reply holds back none after it: the next frame is answered on time
// and the late reply comes after it, when it is due.
TEST(SimProgram, ALateReplyIsOvertakenByTheNextOnes) {
    test::SimProcess sim({"--late", "INPSE:1", "--late-ms", "400", "--overtake", "--nak", "INPSE=1"});
    ASSERT_TRUE(sim.Ok()) << sim.Error();
    Client c(sim.LinkPath());
    EXPECT_EQ(c.Ask(Frame(kBCN_Login)), sim::AckReply());
    EXPECT_EQ(c.Ask(Frame(kINPUT)), sim::AckReply());
    EXPECT_TRUE(c.Ask(Frame(kINPSE, 1), 150).empty());
    EXPECT_EQ(c.Ask(Frame(kBOTHP, 1), 150), sim::AckReply());  // on time, before the late one
    EXPECT_EQ(c.Ask({}), sim::NakReply(1));                     // the late reply, after it
}

TEST(SimProgram, AdjustModeInvalidForAWhileAfterAModeChange) {
    test::SimProcess sim({"--adjmd-busy", "200"});
    ASSERT_TRUE(sim.Ok()) << sim.Error();
    Client c(sim.LinkPath());
    EXPECT_EQ(c.Ask(Frame(kBCN_Login)), sim::AckReply());
    EXPECT_EQ(c.Ask(Frame(kADJUS)), sim::AckReply());
    EXPECT_EQ(c.Ask(Frame(kADJMD, 4)), sim::AckReply());      // no change before: taken
    EXPECT_EQ(c.Ask(Frame(kADJMD, 5)), sim::NakReply(2));     // within 200 ms of the change
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(c.Ask(Frame(kADJMD, 5)), sim::AckReply());
    EXPECT_EQ(sim.State()["sys_adj3d_mode"], 5);
}

TEST(SimProgram, ServesARealPortDevice) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    // The port stands for a serial device: the test holds the other end of the cable.
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    std::string program = Program();
    std::vector<std::string> args = {program, "--quiet", "--print-state", "--port", slave};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    FILE* from = ::fdopen(out[0], "r");
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, from), nullptr);
    EXPECT_EQ(std::string(line), slave + "\n");
    Client cable(master);
    EXPECT_EQ(cable.Ask(Frame(kBCN_Login)), sim::AckReply());
    EXPECT_EQ(cable.Ask(Frame(k2D3D)), sim::AckReply());
    EXPECT_EQ(cable.Ask(Frame(kCONVE, 1)), sim::AckReply());
    ::kill(pid, SIGTERM);
    std::string dump;
    while (std::fgets(line, sizeof line, from)) dump += line;
    std::fclose(from);
    int status = -1;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(sim::ParseDump(dump)["sys_2D3D"], 1);
}

}  // namespace
}  // namespace dpx
