#include "tests/support/SimProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <chrono>
#include <filesystem>

#include "sim/BoxModel.h"
#include "tests/support/ChildProcess.h"

namespace dpx::test {
namespace {

using namespace std::chrono_literals;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void RemoveTree(const std::string& dir) {
    if (dir.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

std::vector<std::string> Split(const std::string& line, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = line.find(sep, start);
        parts.push_back(line.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

}  // namespace

std::string SimProcess::Program() {
    if (const char* build = std::getenv("DPX20_BUILD_DIR"); build && *build)
        return std::string(build) + "/dpx20sim";
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (const std::filesystem::path& p : {exe.parent_path() / "dpx20sim", exe / "dpx20sim"})
        if (std::filesystem::exists(p, ec)) return p.string();
    return "dpx20sim";
}

SimProcess::SimProcess(std::vector<std::string> options, std::string link_path) {
    const std::string program = Program();
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/dpx20sim-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        error_ = "mkdtemp: " + std::string(std::strerror(errno));
        return;
    }
    dir_ = pattern;
    link_ = link_path.empty() ? dir_ + "/com1" : link_path;
    if (::access(program.c_str(), X_OK) != 0) {
        error_ = program + " is not built (or set DPX20_BUILD_DIR)";
        return;
    }
    std::vector<std::string> args = {program, "--link", link_, "--state", dir_ + "/state",
                                     "--log", dir_ + "/frames.log"};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string out = dir_ + "/stdout.txt", err = dir_ + "/stderr.txt";
    const pid_t parent = ::getpid();

    pid_ = ::fork();
    if (pid_ == 0) {  // only async-signal-safe calls until exec
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a crashed test
        if (::getppid() != parent) ::_exit(127);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o >= 0) ::dup2(o, 1);
        if (e >= 0) ::dup2(e, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid_ < 0) {
        error_ = "fork: " + std::string(std::strerror(errno));
        return;
    }
    running_ = true;
    switch (AwaitChildReady(pid_, [&] { return Exists(link_) && !ReadText(out).empty(); })) {
        case ChildStart::kReady: break;
        case ChildStart::kEnded:
            running_ = false;
            error_ = "dpx20sim ended at start: " + ReadText(err);
            break;
        case ChildStart::kLate: error_ = "dpx20sim made no link within 5 s: " + ReadText(err); break;
    }
}

SimProcess::~SimProcess() {
    Stop();
    RemoveTree(dir_);
}

std::string SimProcess::DevicePath() const {
    std::string text = ReadText(dir_ + "/stdout.txt");
    return text.substr(0, text.find('\n'));
}

void SimProcess::Stop() {
    if (!running_) return;
    running_ = false;
    EndChild(pid_);
}

std::map<std::string, long> SimProcess::State() {
    const std::string path = dir_ + "/state";
    if (!running_) return sim::ParseDump(ReadText(path));
    ::kill(pid_, SIGUSR1);
    ++requests_;
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    for (;;) {
        std::map<std::string, long> state = sim::ParseDump(ReadText(path));
        if (state.count("requests") && state["requests"] >= requests_) return state;
        if (std::chrono::steady_clock::now() > deadline) return {};
        std::this_thread::sleep_for(1ms);
    }
}

std::vector<std::string> SimProcess::LogLines() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadText(dir_ + "/frames.log"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::vector<uint8_t>> SimProcess::Frames() const {
    std::vector<std::vector<uint8_t>> frames;
    for (const std::string& line : LogLines()) {
        const std::vector<std::string> fields = Split(line, '\t');
        if (fields.size() < 4 || fields[1] != "recv") continue;
        std::vector<uint8_t> bytes;
        for (const std::string& hex : Split(fields[3], ' '))
            bytes.push_back(static_cast<uint8_t>(std::strtoul(hex.c_str(), nullptr, 16)));
        frames.push_back(std::move(bytes));
    }
    return frames;
}

std::vector<std::string> SimProcess::Words() const {
    std::vector<std::string> words;
    for (const std::vector<uint8_t>& f : Frames())
        if (f.size() >= 8) words.emplace_back(f.begin() + 3, f.begin() + 8);
    return words;
}

}  // namespace dpx::test
