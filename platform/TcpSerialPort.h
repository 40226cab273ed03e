#pragma once
// The link's SerialPort through a network serial server (a device server, ser2net), over
// QTcpSocket. Raw mode passes bytes as they are and leaves the line settings to the server;
// RFC 2217 mode speaks Telnet with the COM-PORT-OPTION (TelnetCodec), insists on binary
// transmission both ways, sets the line itself and follows the server's flow control of our
// output. As with QtSerialPort no event loop runs during the link's calls: every wait is a
// waitFor* on the socket, bounded by the port time-outs. A connection that drops is a
// vanished device: IsUsable() is then false, ErrorText() says why (with what the server said
// before it closed), and the next Open() connects again. A drop between the link's calls is
// told to the port's gone handler.
//
// Purge() drops what has come in, here in the client: asking the server to purge before
// every frame costs a round trip that a server with Nagle's algorithm on turns into tens of
// milliseconds per command. The server is asked to purge (PURGE-DATA) at open, and once
// after the box failed to answer in time.
#include <QTcpSocket>
#include <cstdint>
#include <deque>
#include <string>

#include "link/SerialPort.h"
#include "telnet/TelnetCodec.h"

namespace dpx::platform {

class TcpSerialPort final : public SerialPort {
public:
    enum class Mode { kRaw, kRfc2217 };
    // Options in the port name (rfc2217://HOST:PORT?ign_set_control).
    struct Options {
        bool ignore_set_control = false;  // do not wait for, or check, the answers to SET-CONTROL
    };
    // How long opening may take to find the server (name and connection, every address of
    // the name within it), and then each negotiation.
    static constexpr int kOpenLimitMs = 2000;
    // How long the server may hold our output back (FLOWCONTROL-SUSPEND) before a write fails.
    static constexpr int kSuspendLimitMs = 1000;

    // `name` is what the operator gave (DeviceName()); `host` a name or an address.
    TcpSerialPort(std::string name, Mode mode, std::string host, uint16_t port, Options options);
    ~TcpSerialPort() override;

    bool Open() override;
    bool ApplyLineSettings() override;
    bool IsUsable() const override;
    bool Purge() override;
    bool ClearError(uint32_t* errors, uint32_t* queued, uint32_t wait_ms) override;
    uint32_t Write(const uint8_t* data, uint32_t n) override;
    uint32_t ReadByte(uint8_t* byte) override;
    std::string DeviceName() const override { return name_; }
    std::string ErrorText() const override { return error_; }
    void Close() override;
    bool IsNetworkPort() const override { return true; }

private:
    // "; the server began a Telnet subnegotiation ... and has not ended it ..." while one is
    // open, else empty: the reason its answers did not come.
    std::string UnendedSub() const;
    // Finds the server: every address of the host in turn, within kOpenLimitMs.
    bool Connect();
    // Takes what the socket has, waiting up to `wait_ms` for something when it has nothing;
    // false when the connection is gone.
    bool Pump(int wait_ms);
    // Pumps until a data byte is there or `wait_ms` has passed; false when the connection is gone.
    bool AwaitData(int wait_ms);
    // Sends Telnet commands and notes them in words for the trace.
    bool SendCommands(const TelnetCodec::Bytes& bytes);
    bool Send(const TelnetCodec::Bytes& bytes);
    // Pumps until `done()` or the open limit; false on a time-out or a lost connection.
    template <typename Done>
    bool AwaitServer(Done done);
    void Gone(const char* what);
    // The server broke the session's rules (held our output too long, turned binary
    // transmission off): the port fails with `reason` and closes, as when the server is gone.
    void Broken(const std::string& reason);
    // The socket disconnected between the link's calls (queued from its signal).
    void NoticeGone();
    void Fail(const std::string& reason);

    std::string name_;
    Mode mode_;
    std::string host_;
    uint16_t port_;
    Options options_;
    std::string error_;
    QTcpSocket socket_;
    TelnetCodec codec_;
    std::deque<uint8_t> received_;  // data bytes not yet read by the link
    std::string heard_;             // the last data received: what a server said before it closed
    bool gone_ = false;
    bool purge_due_ = false;        // ask the server to purge at the next Purge()
    bool watching_ = false;         // connected by Open(): a disconnect now is the server's doing
    bool binary_agreed_ = false;    // RFC 2217: binary both ways was agreed at Open()
};

}  // namespace dpx::platform
