#include "sim/SimServer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace dpx::sim {
namespace {

// Self-pipe: the signal handlers only write one byte; the loop reads it in ppoll.
int g_signal_pipe[2] = {-1, -1};

void OnSignal(int sig) {
    const int saved = errno;
    const char c = sig == SIGUSR1 ? 'U' : sig == SIGUSR2 ? 'S' : 'T';
    (void)!::write(g_signal_pipe[1], &c, 1);
    errno = saved;
}

bool InstallSignals(std::string* error) {
    if (g_signal_pipe[0] < 0 && ::pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Replaces `path` with `text` by writing a temporary file beside it and renaming it over.
void ReplaceFile(const std::string& path, const std::string& text) {
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "dpx20sim: %s\n", Errno(tmp).c_str());
        return;
    }
    const bool ok = WriteAll(fd, text);
    ::close(fd);
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "dpx20sim: cannot write %s\n", path.c_str());
        ::unlink(tmp.c_str());
    }
}

void RawMode(termios* tio) {
    ::cfmakeraw(tio);
    tio->c_cflag |= CLOCAL | CREAD;
    tio->c_cc[VMIN] = 1;
    tio->c_cc[VTIME] = 0;
    ::cfsetispeed(tio, B9600);
    ::cfsetospeed(tio, B9600);
}

}  // namespace

int64_t MonotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

SimServer::SimServer(SimConfig config) : config_(std::move(config)), box_(config_.box) {
    BoxOptions& options = box_.Options();
    options.keep_history = false;  // a long run would grow without bound
}

SimServer::~SimServer() {
    if (link_made_) {
        // Only our own link: another simulator may have taken the name meanwhile.
        char target[4096];
        const ssize_t n = ::readlink(config_.link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == device_path_)
            ::unlink(config_.link.c_str());
    }
    if (fd_ >= 0) ::close(fd_);
    if (slave_fd_ >= 0) ::close(slave_fd_);
    if (log_fd_ > 2) ::close(log_fd_);
}

bool SimServer::Start() {
    start_ns_ = MonotonicNs();
    if (!InstallSignals(&error_)) return false;
    if (!config_.quiet) {
        log_fd_ = 2;
        if (!config_.log.empty()) {
            log_fd_ = ::open(config_.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
            if (log_fd_ < 0) {
                error_ = Errno(config_.log);
                return false;
            }
        }
    }
    if (!(config_.port.empty() ? OpenPty() : OpenPort())) return false;
    if (!config_.link.empty()) {
        // Made under a temporary name and renamed, so a waiting test never sees a half state.
        const std::string tmp = config_.link + ".new";
        ::unlink(tmp.c_str());
        if (::symlink(device_path_.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), config_.link.c_str()) != 0) {
            error_ = Errno("link " + config_.link);
            ::unlink(tmp.c_str());
            return false;
        }
        link_made_ = true;
    }
    return true;
}

bool SimServer::OpenPty() {
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) {
        error_ = Errno("pseudo-terminal");
        return false;
    }
    char name[256];
    if (::ptsname_r(fd_, name, sizeof name) != 0) {
        error_ = Errno("ptsname");
        return false;
    }
    device_path_ = name;
    slave_fd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (slave_fd_ < 0 || ::tcgetattr(slave_fd_, &tio) != 0) {
        error_ = Errno(device_path_);
        return false;
    }
    RawMode(&tio);  // no echo, no CR/LF translation, no flow-control bytes
    tio.c_cflag = (tio.c_cflag & ~(CSIZE | CSTOPB)) | CS8 | PARENB | PARODD;
    ::tcsetattr(slave_fd_, TCSANOW, &tio);
    return true;
}

bool SimServer::OpenPort() {
    device_path_ = config_.port;
    fd_ = ::open(device_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (fd_ < 0 || ::tcgetattr(fd_, &tio) != 0) {
        error_ = Errno(device_path_);
        return false;
    }
    if (::ioctl(fd_, TIOCEXCL) != 0) {
        error_ = Errno(device_path_ + ": exclusive use");
        return false;
    }
    RawMode(&tio);
    tio.c_cflag = (tio.c_cflag & ~(CSIZE | CSTOPB | CRTSCTS)) | CS8 | PARENB | PARODD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
        error_ = Errno(device_path_ + ": 9600 8O1");
        return false;
    }
    int dtr = TIOCM_DTR;
    ::ioctl(fd_, TIOCMBIS, &dtr);  // a pseudo-terminal or a three-wire adapter has none
    ::tcflush(fd_, TCIOFLUSH);
    return true;
}

uint32_t SimServer::ModelMs(int64_t t) const { return static_cast<uint32_t>((t - start_ns_) / 1000000); }

void SimServer::Log(int64_t t, const char* dir, const std::vector<uint8_t>& bytes, const std::string& note) {
    if (log_fd_ < 0) return;
    char head[48];
    std::snprintf(head, sizeof head, "%.3f\t%s\t", static_cast<double>(t - start_ns_) / 1e6, dir);
    std::string line = head + EscapeBytes(bytes.data(), bytes.size()) + "\t" + HexBytes(bytes.data(), bytes.size());
    if (!note.empty()) line += "\t" + note;
    line += "\n";
    WriteAll(log_fd_, line);  // one write per line, unbuffered: readers see whole lines at once
}

void SimServer::ReadDevice(int64_t now) {
    uint8_t buf[256];
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // EAGAIN: all read
        for (ssize_t i = 0; i < n; ++i) {
            int64_t done = now;
            if (config_.wire) {  // a byte is complete one byte time after the wire was free
                done = std::max(now, rx_free_ns_) + kWireByteNanos;
                rx_free_ns_ = done;
            }
            incoming_.emplace_back(done, buf[i]);
        }
    }
}

void SimServer::TakeDueInput(int64_t now) {
    std::vector<uint8_t> bytes;
    int64_t last = now;
    while (!incoming_.empty() && incoming_.front().first <= now) {
        last = incoming_.front().first;
        bytes.push_back(incoming_.front().second);
        incoming_.pop_front();
    }
    if (bytes.empty()) return;
    for (const Exchange& ex : box_.Receive(bytes.data(), bytes.size(), ModelMs(now))) {
        Log(last, "recv", {ex.frame.begin(), ex.frame.end()}, "");  // when its last byte came
        Schedule(ex, last);
    }
}

void SimServer::Schedule(const Exchange& ex, int64_t frame_done) {
    ++frame_no_;
    ReplyPlan plan = PlanReply(config_.faults, frame_no_, ex);
    if (plan.bytes.empty()) return;
    if (plan.fault.rfind("drop", 0) == 0) {
        Log(MonotonicNs(), "drop", plan.bytes, plan.fault);
        return;
    }
    // Pieces go out in the order they are due; a piece due with others goes after them.
    auto put = [this](Outgoing piece) {
        const auto later = std::find_if(outgoing_.begin(), outgoing_.end(),
                                        [&](const Outgoing& o) { return o.due_ns > piece.due_ns; });
        return outgoing_.insert(later, std::move(piece));
    };
    int64_t at = frame_done + static_cast<int64_t>(plan.delay_ms) * 1000000;
    if (config_.faults.overtake && plan.fault.find("late") != std::string::npos) {
        // When due, whole; the replies after it do not wait for it.
        if (config_.wire) at += kWireByteNanos * static_cast<int64_t>(plan.bytes.size());
        put({at, plan.bytes, true, plan.bytes, std::move(plan.fault)});
        return;
    }
    // One line: a later reply never overtakes an earlier one.
    at = std::max(at, tx_free_ns_);
    auto last = outgoing_.end();
    if (!config_.wire) {
        last = put({at, plan.bytes, false, {}, {}});
    } else {
        for (uint8_t b : plan.bytes) {  // each byte goes out when its last bit would be sent
            at += kWireByteNanos;
            last = put({at, {b}, false, {}, {}});
        }
    }
    tx_free_ns_ = at;
    last->last = true;
    last->reply = std::move(plan.bytes);
    last->faults = std::move(plan.fault);
}

void SimServer::SendDueOutput(int64_t now) {
    while (!outgoing_.empty() && outgoing_.front().due_ns <= now) {
        const Outgoing& out = outgoing_.front();
        // Logged before the last byte goes out, so a reader that got the reply finds the line.
        if (out.last) Log(now, "send", out.reply, out.faults);
        const ssize_t n = ::write(fd_, out.bytes.data(), out.bytes.size());
        if (n != static_cast<ssize_t>(out.bytes.size()))
            Log(now, "fail", out.bytes, n < 0 ? std::strerror(errno) : "short write");
        outgoing_.pop_front();
    }
}

void SimServer::WriteState() {
    const std::string text = "requests = " + std::to_string(dump_requests_) + "\n" + box_.Dump();
    if (!config_.state.empty()) ReplaceFile(config_.state, text);
    if (config_.print_state) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }
}

int SimServer::Run() {
    for (;;) {
        int64_t now = MonotonicNs();
        TakeDueInput(now);
        SendDueOutput(now);
        int64_t next = -1;
        if (!incoming_.empty()) next = incoming_.front().first;
        if (!outgoing_.empty() && (next < 0 || outgoing_.front().due_ns < next)) next = outgoing_.front().due_ns;
        timespec timeout{};
        if (next >= 0) {
            const int64_t wait = std::max<int64_t>(0, next - MonotonicNs());
            timeout.tv_sec = static_cast<time_t>(wait / 1000000000);
            timeout.tv_nsec = static_cast<long>(wait % 1000000000);
        }
        pollfd fds[2] = {{fd_, POLLIN, 0}, {g_signal_pipe[0], POLLIN, 0}};
        const int r = ::ppoll(fds, 2, next >= 0 ? &timeout : nullptr, nullptr);
        if (r < 0 && errno != EINTR) {
            std::fprintf(stderr, "dpx20sim: %s\n", Errno("poll").c_str());
            return 1;
        }
        now = MonotonicNs();
        if (fds[1].revents & POLLIN) {
            char c;
            bool stop = false;
            while (::read(g_signal_pipe[0], &c, 1) == 1) {
                if (c == 'T') stop = true;
                else if (c == 'S') config_.faults.silent = !config_.faults.silent;
                else ++dump_requests_, WriteState();
            }
            if (stop) break;
        }
        if (fds[0].revents & POLLIN) {
            ReadDevice(now);
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // A serial port that lost its line: wait a while rather than spin on the event.
            pollfd sig{g_signal_pipe[0], POLLIN, 0};
            ::poll(&sig, 1, 100);
        }
    }
    WriteState();
    return 0;
}

}  // namespace dpx::sim
