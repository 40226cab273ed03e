#pragma once
// Runs ser2net (the system's, version 4) as a child process serving one device on
// 127.0.0.1, for tests and benchmarks of the network serial ports. Its configuration file
// and output are written to a temporary directory of its own. Tuned, the accepter sends
// every byte at once (tcp(nodelay), chardelay off) so that the transport adds no delay of its
// own; with ser2net's defaults, Nagle's algorithm and the character delay are on, as on most
// servers met in the field.
//
//   dpx::test::Ser2netProcess server(sim.LinkPath(), dpx::test::Ser2netProcess::Mode::kRfc2217);
//   ASSERT_TRUE(server.Ok()) << server.Error();
//   setenv("DPX20_COM1", server.Url().c_str(), 1);      // rfc2217://127.0.0.1:<port>
// The destructor stops ser2net and removes the directory.
#include <sys/types.h>

#include <string>

namespace dpx::test {

class Ser2netProcess {
public:
    enum class Mode { kRaw, kRfc2217 };
    enum class Tuning { kPrompt, kDefaults };

    // Starts ser2net and returns once it listens (at most 5 s). `port` 0: a free one; else
    // that port, so that a new server can take the place of one that was stopped.
    Ser2netProcess(const std::string& device, Mode mode, int port = 0, Tuning tuning = Tuning::kPrompt);
    ~Ser2netProcess();
    Ser2netProcess(const Ser2netProcess&) = delete;
    Ser2netProcess& operator=(const Ser2netProcess&) = delete;

    bool Ok() const { return pid_ > 0 && error_.empty(); }
    const std::string& Error() const { return error_; }
    int Port() const { return port_; }
    // socket://127.0.0.1:<port> or rfc2217://127.0.0.1:<port>.
    std::string Url() const;
    // Ends ser2net (SIGTERM, SIGKILL after 3 s) and waits for it; its connections drop.
    void Stop();

    // A TCP port on 127.0.0.1 that nobody listens on now.
    static int FreePort();

private:
    std::string dir_;
    std::string error_;
    Mode mode_;
    int port_ = 0;
    pid_t pid_ = -1;
    bool running_ = false;
};

}  // namespace dpx::test
