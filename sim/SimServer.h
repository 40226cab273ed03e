#pragma once
// The serving loop of dpx20sim: a BoxModel on a pseudo-terminal master (or a real serial
// port), with wire timing, the faults of SimOptions, the frame log and the state dump.
// POSIX only. The loop blocks in ppoll until a byte, a signal or the next byte due to go out.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/BoxModel.h"
#include "sim/SimOptions.h"

namespace dpx::sim {

class SimServer {
public:
    explicit SimServer(SimConfig config);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Installs the signal handlers (SIGUSR1 dump, SIGUSR2 silent on/off, SIGTERM/SIGINT/SIGHUP stop), opens the
    // device and makes the link. False with Error() set on failure.
    bool Start();
    // The device the controller is to open (the pseudo-terminal slave or the port).
    const std::string& DevicePath() const { return device_path_; }
    const std::string& Error() const { return error_; }
    // Serves until a stop signal; then writes the state, removes the link. Returns the exit code.
    int Run();

private:
    // A piece of a reply due at a time: the whole reply, or one byte with wire timing.
    // The last piece carries the whole reply and its faults for the log line.
    struct Outgoing {
        int64_t due_ns = 0;
        std::vector<uint8_t> bytes;
        bool last = false;
        std::vector<uint8_t> reply;
        std::string faults;
    };

    bool OpenPty();
    bool OpenPort();
    void ReadDevice(int64_t now);
    void TakeDueInput(int64_t now);
    void SendDueOutput(int64_t now);
    void Schedule(const Exchange& ex, int64_t frame_done);
    void WriteState();
    void Log(int64_t t, const char* dir, const std::vector<uint8_t>& bytes, const std::string& note);
    uint32_t ModelMs(int64_t t) const;

    SimConfig config_;
    BoxModel box_;
    std::string device_path_;
    std::string error_;
    int fd_ = -1;        // pseudo-terminal master or serial port
    int slave_fd_ = -1;  // held open so the master never sees a hang-up between controllers
    int log_fd_ = -1;
    bool link_made_ = false;
    int64_t start_ns_ = 0;
    int64_t rx_free_ns_ = 0;  // when the incoming wire is free again
    int64_t tx_free_ns_ = 0;  // when the outgoing wire is free again
    std::deque<std::pair<int64_t, uint8_t>> incoming_;  // bytes and when they are complete
    std::deque<Outgoing> outgoing_;                     // ordered by due time
    uint64_t frame_no_ = 0;
    uint64_t dump_requests_ = 0;
};

// Monotonic clock in nanoseconds.
int64_t MonotonicNs();

}  // namespace dpx::sim
