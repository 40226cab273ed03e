#pragma once
// The Telnet side of a serial port reached through a network serial server with the
// COM-PORT-OPTION (RFC 2217). Bytes only, no sockets: the port feeds it what the socket
// received and sends what it returns.
//   - Data going out has every 0xFF (IAC) doubled; data coming in has it undone.
//   - Commands, option negotiation and subnegotiations from the server are taken out of the
//     data, also when one is split across reads; the server's answers to our COM-PORT
//     commands are kept for checking, its flow control of our output is followed, line and
//     modem state notifications are kept and otherwise ignored.
//   - Everything the server negotiates is also described in words (TakeNotes), for the trace.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
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
                             kSetControl = 5, kNotifyLineState = 6, kNotifyModemState = 7,
                             kFlowControlSuspend = 8, kFlowControlResume = 9, kPurgeData = 12;
    static constexpr uint8_t kServerOffset = 100;
    // Values of the commands above.
    static constexpr uint8_t kParityOdd = 2, kStopOne = 1, kControlNoFlow = 1, kControlHardwareFlow = 3,
                             kControlDtrOn = 8, kPurgeReceive = 1, kPurgeBoth = 3;

    // What the server said to one of our offers.
    enum class Option { kPending, kAccepted, kRefused };

    // The opening: we will use the COM-PORT-OPTION, and binary transmission both ways so
    // that no byte value is translated.
    static Bytes Start();
    // `n` data bytes with every IAC doubled.
    static Bytes EncodeData(const uint8_t* data, size_t n);
    // A COM-PORT-OPTION command with a one-byte value, and SET-BAUDRATE (four bytes).
    static Bytes Command(uint8_t command, uint8_t value);
    static Bytes SetBaudRate(uint32_t baud);
    // Telnet commands in words: "WILL COM-PORT-OPTION, SET-PARITY odd".
    static std::string Describe(const Bytes& commands);
    // What a COM-PORT-OPTION command sets, for the operator: "parity (SET-PARITY)".
    static std::string SettingName(uint8_t command);
    // A SET-CONTROL flow control value in words: "no flow control", "hardware flow control".
    static std::string ControlName(uint8_t value);

    // Takes `n` received bytes: data bytes are appended to `data`, the answers that the
    // negotiation needs (to be sent to the server) to `answer`. When the server's answer to
    // PURGE-DATA comes, the data before it is stale: it is taken out of `data` and Purged()
    // says so, for the caller to drop what it kept from earlier reads.
    void Feed(const uint8_t* in, size_t n, Bytes* data, Bytes* answer);

    Option ComPort() const { return com_port_; }
    // The server's answers to our WILL BINARY (binary towards the server) and DO BINARY
    // (binary from the server).
    Option BinaryToServer() const { return binary_to_server_; }
    Option BinaryFromServer() const { return binary_from_server_; }
    // The value of the server's last answer to `command` (one of kSet*, kPurgeData), if any;
    // cleared by Forget(). For kSetControl, only answers about flow control count.
    std::optional<uint32_t> Answer(uint8_t command) const;
    void Forget(uint8_t command) { answers_.erase(command); }
    // True between the server's FLOWCONTROL-SUSPEND and FLOWCONTROL-RESUME: we must not send.
    bool Suspended() const { return suspended_; }
    // True once per server answer to PURGE-DATA fed since the last call.
    bool Purged() { return std::exchange(purged_, false); }
    // The last line state and modem state the server notified (0 when none).
    uint8_t LineState() const { return line_state_; }
    uint8_t ModemState() const { return modem_state_; }
    // What the server negotiated since the last call, in words (line and modem state only
    // when they change, and only the first few changes, so that a server flooding
    // notifications does not flood the trace).
    std::vector<std::string> TakeNotes() { return std::exchange(notes_, {}); }
    // True while a subnegotiation from the server (IAC SB) has not ended (IAC SE): everything
    // the server sends meanwhile, our answers and the box's data included, is taken as part
    // of it. With the bytes taken so far, and its fault in words for a port's error text.
    bool InSubnegotiation() const { return state_ == State::kSub || state_ == State::kSubIac; }
    std::size_t SubnegotiationBytes() const { return sub_bytes_; }
    std::string UnendedSubnegotiation() const;
    // Back to the start of a connection.
    void Reset() { *this = TelnetCodec(); }

private:
    enum class State { kData, kIac, kVerb, kSub, kSubIac };
    void Negotiate(uint8_t verb, uint8_t option, Bytes* answer);
    void Subnegotiation(Bytes* data);
    void Command(uint8_t b, Bytes* data);

    State state_ = State::kData;
    uint8_t verb_ = 0;
    Bytes sub_;
    std::size_t sub_bytes_ = 0;  // bytes of the current subnegotiation, also those not kept
    Option com_port_ = Option::kPending;
    Option binary_to_server_ = Option::kPending;
    Option binary_from_server_ = Option::kPending;
    bool server_com_port_ = false;  // the server's own WILL COM-PORT-OPTION, which we took
    bool describing_ = false;       // Describe()'s reader: notes without answers
    bool suspended_ = false;
    bool purged_ = false;
    std::map<uint8_t, uint32_t> answers_;
    std::optional<uint8_t> line_state_seen_, modem_state_seen_;
    int state_notes_ = 0;
    uint8_t line_state_ = 0;
    uint8_t modem_state_ = 0;
    std::vector<std::string> notes_;
};

}  // namespace dpx::platform
