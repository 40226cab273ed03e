#pragma once
// dpx20sim as a child of a benchmark: its link and frame log in a temporary directory, its
// frames and CPU time read back. POSIX only, as the benchmarks are.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace dpx::bench {

// One dpx20sim child with its link in a temporary directory.
class Sim {
public:
    Sim(const std::string& program, std::vector<std::string> options) {
        char pattern[] = "/tmp/dpx20sim-bench-XXXXXX";
        dir_ = ::mkdtemp(pattern) ? pattern : "/tmp";
        link_ = dir_ + "/com1";
        std::vector<std::string> args = {program, "--link", link_, "--log", dir_ + "/frames.log"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::fflush(nullptr);  // the child must not write our buffered output again
        pid_ = ::fork();
        if (pid_ == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!std::filesystem::is_symlink(link_) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Sim() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        std::filesystem::remove_all(dir_);
    }
    bool Ok() const { return std::filesystem::is_symlink(link_); }
    const std::string& Link() const { return link_; }
    const std::string& Dir() const { return dir_; }
    std::string LogTail(int lines) const {
        std::ifstream in(dir_ + "/frames.log");
        std::vector<std::string> all;
        for (std::string line; std::getline(in, line);) all.push_back(line);
        std::string text;
        for (std::size_t i = all.size() > static_cast<std::size_t>(lines) ? all.size() - lines : 0; i < all.size(); ++i)
            text += all[i] + "\n";
        return text;
    }
    int FramesReceived() const {
        std::ifstream in(dir_ + "/frames.log");
        int n = 0;
        for (std::string line; std::getline(in, line);) n += line.find("\trecv\t") != std::string::npos;
        return n;
    }
    // CPU seconds the simulator has used (user + system), from /proc.
    double CpuSeconds() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), {});
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos) return 0;
        std::vector<std::string> fields;
        std::string field;
        for (char c : text.substr(close + 2)) {
            if (c == ' ') fields.push_back(field), field.clear();
            else field += c;
        }
        if (fields.size() < 13) return 0;  // fields from 3 on: utime is 14, stime 15
        return (std::stod(fields[11]) + std::stod(fields[12])) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

private:
    std::string dir_, link_;
    pid_t pid_ = -1;
};

}  // namespace dpx::bench
