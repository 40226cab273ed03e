#pragma once
// A network serial server that misbehaves on purpose, for the tests of the network ports and
// of dpx20ctl: it listens on 127.0.0.1 and runs a script on each connection. POSIX only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "telnet/TelnetCodec.h"

namespace dpx::test {

// Runs `script` on each connection, one at a time, on a thread of its own.
class ScriptedServer {
public:
    explicit ScriptedServer(std::function<void(int fd)> script) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        EXPECT_EQ(::bind(listen_, reinterpret_cast<sockaddr*>(&addr), len), 0);
        EXPECT_EQ(::listen(listen_, 4), 0);
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this, script] {
            for (int fd; (fd = ::accept(listen_, nullptr, nullptr)) >= 0;) {
                script(fd);
                ::close(fd);
            }
        });
    }
    ~ScriptedServer() {
        ::shutdown(listen_, SHUT_RDWR);  // ends the accept
        thread_.join();
        ::close(listen_);
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;
    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

private:
    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
};

inline void Put(int fd, const std::vector<uint8_t>& bytes) { (void)!::write(fd, bytes.data(), bytes.size()); }

// Reads until `pattern` has come (true) or nothing came for 3 s.
inline bool AwaitBytes(int fd, const std::vector<uint8_t>& pattern) {
    std::vector<uint8_t> seen;
    while (std::search(seen.begin(), seen.end(), pattern.begin(), pattern.end()) == seen.end()) {
        pollfd p{fd, POLLIN, 0};
        uint8_t buf[256];
        if (::poll(&p, 1, 3000) <= 0) return false;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return false;
        seen.insert(seen.end(), buf, buf + n);
    }
    return true;
}

using Bytes = std::vector<uint8_t>;

// What a well-behaved server sends first: the COM-PORT-OPTION and binary both ways taken.
inline Bytes TakesOffers() {
    using Codec = platform::TelnetCodec;
    constexpr uint8_t IAC = Codec::kIac, COM = Codec::kComPortOption;
    return {IAC, Codec::kDo, COM, IAC, Codec::kDo, Codec::kBinary, IAC, Codec::kWill, Codec::kBinary};
}

// A server's answers to the line settings; `flow` 0: no answer to SET-CONTROL.
inline Bytes Answers(uint16_t baud, uint8_t parity, uint8_t flow) {
    using Codec = platform::TelnetCodec;
    constexpr uint8_t IAC = Codec::kIac, SB = Codec::kSb, SE = Codec::kSe, COM = Codec::kComPortOption;
    Bytes out = {IAC, SB, COM, 101, 0, 0, static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud), IAC, SE,
                 IAC, SB, COM, 102, 8, IAC, SE, IAC, SB, COM, 103, parity, IAC, SE, IAC, SB, COM, 104, 1, IAC, SE};
    // One byte at a time: GCC 12 warns falsely about an insert of a list here (-Warray-bounds).
    if (flow)
        for (uint8_t b : {IAC, SB, COM, uint8_t{105}, flow, IAC, SE}) out.push_back(b);
    return out;
}

inline Bytes GoodAnswers() {
    using Codec = platform::TelnetCodec;
    return Answers(9600, Codec::kParityOdd, Codec::kControlNoFlow);
}

// Sends `opening`; once the line settings have come, answers them with `answers`.
inline void Negotiate(int fd, const Bytes& opening = TakesOffers(), const Bytes& answers = GoodAnswers()) {
    using Codec = platform::TelnetCodec;
    Put(fd, opening);
    AwaitBytes(fd, Codec::Command(Codec::kSetControl, Codec::kControlDtrOn));
    Put(fd, answers);
}

}  // namespace dpx::test
