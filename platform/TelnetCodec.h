#pragma once
// The Telnet side of a serial port reached through a network serial server with the
// COM-PORT-OPTION (RFC 2217). Bytes only, no sockets: the port feeds it what the socket
// received and sends what it returns.
//   - Data going out has every 0xFF (IAC) doubled; data coming in has it undone.
//   - Commands, option negotiation and subnegotiations from the server are taken out of the
//     data, also when one is split across reads; the server's answers to our COM-PORT
//     commands are kept for checking, line and modem state notifications are kept and
//     otherwise ignored.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace dpx::platform {

class TelnetCodec {
public:
    using Bytes = std::vector<uint8_t>;

    // Telnet bytes and the options we use.
    static constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                             kSe = 240;
    static constexpr uint8_t kBinary = 0, kComPortOption = 44;
    // COM-PORT-OPTION commands as the client sends them; the server answers with +100.
    static constexpr uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                             kSetControl = 5, kNotifyLineState = 6, kNotifyModemState = 7, kPurgeData = 12;
    static constexpr uint8_t kServerOffset = 100;
    // Values of the commands above.
    static constexpr uint8_t kParityOdd = 2, kStopOne = 1, kControlNoFlow = 1, kControlDtrOn = 8,
                             kPurgeBoth = 3;

    // What the server said to our offer of the COM-PORT-OPTION.
    enum class Option { kPending, kAccepted, kRefused };

    // The opening: we will use the COM-PORT-OPTION, and binary transmission both ways so
    // that no byte value is translated.
    static Bytes Start();
    // `n` data bytes with every IAC doubled.
    static Bytes EncodeData(const uint8_t* data, size_t n);
    // A COM-PORT-OPTION command with a one-byte value, and SET-BAUDRATE (four bytes).
    static Bytes Command(uint8_t command, uint8_t value);
    static Bytes SetBaudRate(uint32_t baud);

    // Takes `n` received bytes: data bytes are appended to `data`, the answers that the
    // negotiation needs (to be sent to the server) to `answer`.
    void Feed(const uint8_t* in, size_t n, Bytes* data, Bytes* answer);

    Option ComPort() const { return com_port_; }
    // The value of the server's last answer to `command` (one of kSet*, kPurgeData), if any;
    // cleared by Forget().
    std::optional<uint32_t> Answer(uint8_t command) const;
    void Forget(uint8_t command) { answers_.erase(command); }
    // The last line state and modem state the server notified (0 when none).
    uint8_t LineState() const { return line_state_; }
    uint8_t ModemState() const { return modem_state_; }
    // Back to the start of a connection.
    void Reset() { *this = TelnetCodec(); }

private:
    enum class State { kData, kIac, kVerb, kSub, kSubIac };
    void Negotiate(uint8_t verb, uint8_t option, Bytes* answer);
    void Subnegotiation();

    State state_ = State::kData;
    uint8_t verb_ = 0;
    Bytes sub_;
    Option com_port_ = Option::kPending;
    std::map<uint8_t, uint32_t> answers_;
    uint8_t line_state_ = 0;
    uint8_t modem_state_ = 0;
};

}  // namespace dpx::platform
