#include "telnet/TelnetCodec.h"

#include <cstdio>

namespace dpx::platform {
namespace {
// A subnegotiation longer than any COM-PORT-OPTION message is kept only up to here.
constexpr size_t kMaxSub = 64;
// Line and modem state changes noted per connection: a server flooding them must not flood
// the trace.
constexpr int kMaxStateNotes = 16;

std::string Hex(uint8_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", v);
    return text;
}

std::string OptionName(uint8_t option) {
    switch (option) {
        case TelnetCodec::kBinary: return "BINARY";
        case 1: return "ECHO";
        case 3: return "SUPPRESS-GO-AHEAD";
        case TelnetCodec::kComPortOption: return "COM-PORT-OPTION";
        default: return "option " + std::to_string(option);
    }
}

std::string VerbName(uint8_t verb) {
    switch (verb) {
        case TelnetCodec::kWill: return "WILL";
        case TelnetCodec::kWont: return "WONT";
        case TelnetCodec::kDo: return "DO";
        default: return "DONT";
    }
}

// One COM-PORT-OPTION subnegotiation (the bytes after IAC SB) in words; the server's codes
// (+100) read as the client's.
std::string SubName(const TelnetCodec::Bytes& sub) {
    if (sub.size() < 2 || sub[0] != TelnetCodec::kComPortOption) return "subnegotiation of another option";
    const uint8_t command = sub[1] >= TelnetCodec::kServerOffset ? sub[1] - TelnetCodec::kServerOffset : sub[1];
    const bool has_value = sub.size() > 2;
    const uint8_t v = has_value ? sub[2] : 0;
    static constexpr const char* kParity[] = {"(asked)", "none", "odd", "even", "mark", "space"};
    static constexpr const char* kStop[] = {"(asked)", "1", "2", "1.5"};
    static constexpr const char* kPurge[] = {"?", "receive", "transmit", "both"};
    switch (command) {
        case 0: return "SIGNATURE " + std::string(sub.begin() + 2, sub.end());
        case TelnetCodec::kSetBaudRate: {
            uint32_t baud = 0;
            for (size_t i = 2; i < sub.size() && i < 6; ++i) baud = baud << 8 | sub[i];
            return "SET-BAUDRATE " + std::to_string(baud);
        }
        case TelnetCodec::kSetDataSize: return "SET-DATASIZE " + std::to_string(v);
        case TelnetCodec::kSetParity: return std::string("SET-PARITY ") + (v < 6 ? kParity[v] : "?");
        case TelnetCodec::kSetStopSize: return std::string("SET-STOPSIZE ") + (v < 4 ? kStop[v] : "?");
        case TelnetCodec::kSetControl: return "SET-CONTROL " + TelnetCodec::ControlName(v);
        case TelnetCodec::kNotifyLineState: return "NOTIFY-LINESTATE " + Hex(v);
        case TelnetCodec::kNotifyModemState: return "NOTIFY-MODEMSTATE " + Hex(v);
        case TelnetCodec::kFlowControlSuspend: return "FLOWCONTROL-SUSPEND";
        case TelnetCodec::kFlowControlResume: return "FLOWCONTROL-RESUME";
        case 10: return "SET-LINESTATE-MASK " + Hex(v);
        case 11: return "SET-MODEMSTATE-MASK " + Hex(v);
        case TelnetCodec::kPurgeData: return std::string("PURGE-DATA ") + (v < 4 ? kPurge[v] : "?");
        default: return "COM-PORT-OPTION command " + std::to_string(sub[1]);
    }
}

// SET-CONTROL values that answer a flow control setting (outbound and inbound).
bool IsFlowControl(uint8_t v) { return (v >= 1 && v <= 3) || (v >= 14 && v <= 19); }

}  // namespace

TelnetCodec::Bytes TelnetCodec::Start() {
    return {kIac, kWill, kComPortOption, kIac, kWill, kBinary, kIac, kDo, kBinary};
}

TelnetCodec::Bytes TelnetCodec::EncodeData(const uint8_t* data, size_t n) {
    Bytes out;
    out.reserve(n + 4);
    for (size_t i = 0; i < n; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac) out.push_back(kIac);
    }
    return out;
}

TelnetCodec::Bytes TelnetCodec::Command(uint8_t command, uint8_t value) {
    Bytes out = {kIac, kSb, kComPortOption, command, value};
    if (value == kIac) out.push_back(kIac);
    out.insert(out.end(), {kIac, kSe});
    return out;
}

TelnetCodec::Bytes TelnetCodec::SetBaudRate(uint32_t baud) {
    Bytes out = {kIac, kSb, kComPortOption, kSetBaudRate};
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto b = static_cast<uint8_t>(baud >> shift);
        out.push_back(b);
        if (b == kIac) out.push_back(kIac);
    }
    out.insert(out.end(), {kIac, kSe});
    return out;
}

std::string TelnetCodec::Describe(const Bytes& commands) {
    // Read as the server would read them: the shapes are the same both ways.
    TelnetCodec reader;
    reader.describing_ = true;
    Bytes data, answer;
    reader.Feed(commands.data(), commands.size(), &data, &answer);
    std::string text;
    for (const std::string& note : reader.TakeNotes()) text += (text.empty() ? "" : ", ") + note;
    return text;
}

std::string TelnetCodec::SettingName(uint8_t command) {
    switch (command) {
        case kSetBaudRate: return "baud rate (SET-BAUDRATE)";
        case kSetDataSize: return "data bits (SET-DATASIZE)";
        case kSetParity: return "parity (SET-PARITY)";
        case kSetStopSize: return "stop bits (SET-STOPSIZE)";
        case kSetControl: return "flow control (SET-CONTROL)";
        case kPurgeData: return "purge (PURGE-DATA)";
        default: return "COM-PORT-OPTION command " + std::to_string(command);
    }
}

std::string TelnetCodec::ControlName(uint8_t value) {
    switch (value) {
        case 0: return "(flow control asked)";
        case kControlNoFlow: return "no flow control";
        case 2: return "XON/XOFF flow control";
        case kControlHardwareFlow: return "hardware flow control";
        case 5: return "BREAK on";
        case 6: return "BREAK off";
        case kControlDtrOn: return "DTR on";
        case 9: return "DTR off";
        case 11: return "RTS on";
        case 12: return "RTS off";
        case 14: return "no inbound flow control";
        case 15: return "XON/XOFF inbound flow control";
        case 16: return "hardware inbound flow control";
        case 17: return "DCD flow control";
        case 18: return "DTR flow control";
        case 19: return "DSR flow control";
        default: return std::to_string(value);
    }
}

std::optional<uint32_t> TelnetCodec::Answer(uint8_t command) const {
    if (auto it = answers_.find(command); it != answers_.end()) return it->second;
    return std::nullopt;
}

void TelnetCodec::Feed(const uint8_t* in, size_t n, Bytes* data, Bytes* answer) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = in[i];
        switch (state_) {
            case State::kData:
                if (b == kIac) state_ = State::kIac;
                else data->push_back(b);
                break;
            case State::kIac:
                Command(b, data);
                break;
            case State::kVerb:
                Negotiate(verb_, b, answer);
                state_ = State::kData;
                break;
            case State::kSub:
                if (b == kIac) state_ = State::kSubIac;
                else if (sub_.size() < kMaxSub) sub_.push_back(b);
                // No subnegotiation of ours is this long: said once, for the trace.
                if (++sub_bytes_ == kMaxSub + 1) notes_.push_back(UnendedSubnegotiation());
                break;
            case State::kSubIac:
                if (b == kIac) {
                    if (sub_.size() < kMaxSub) sub_.push_back(b);
                    state_ = State::kSub;
                } else if (b == kSe) {
                    Subnegotiation(data);
                    state_ = State::kData;
                } else {
                    // Any other command ends a malformed one too, and is taken as the command it
                    // is: the server's next answer is not lost with it.
                    notes_.push_back("the server ended a Telnet subnegotiation (" + SubName(sub_) +
                                     ") with another command instead of IAC SE");
                    Subnegotiation(data);
                    Command(b, data);
                }
                break;
        }
    }
}

// The byte after an IAC.
void TelnetCodec::Command(uint8_t b, Bytes* data) {
    if (b == kIac) {  // a doubled IAC is one data byte
        data->push_back(b);
        state_ = State::kData;
    } else if (b == kSb) {
        sub_.clear();
        sub_bytes_ = 0;
        state_ = State::kSub;
    } else if (b >= kWill && b <= kDont) {
        verb_ = b;
        state_ = State::kVerb;
    } else {
        state_ = State::kData;  // NOP, GA, DM and the like carry nothing for us
    }
}

std::string TelnetCodec::UnendedSubnegotiation() const {
    return "the server began a Telnet subnegotiation (" + (sub_.empty() ? std::string("IAC SB") : SubName(sub_)) +
           ") and has not ended it (IAC SE) after " + std::to_string(sub_bytes_) +
           " bytes: everything it sent since is taken as part of it";
}

void TelnetCodec::Negotiate(uint8_t verb, uint8_t option, Bytes* answer) {
    notes_.push_back(VerbName(verb) + " " + OptionName(option));
    auto reply = [&](uint8_t v) {
        answer->insert(answer->end(), {kIac, v, option});
        if (!describing_) notes_.back() += " (we answer " + VerbName(v) + ")";
    };
    // Our own offers (WILL COM-PORT-OPTION, binary both ways) were made in Start(): what comes
    // for them is the server's answer. One that takes back what it had granted is
    // acknowledged, as Telnet asks.
    if (option == kComPortOption && (verb == kDo || verb == kDont)) {
        com_port_ = verb == kDo ? Option::kAccepted : Option::kRefused;
        return;
    }
    if (option == kBinary && (verb == kDo || verb == kDont)) {
        if (verb == kDont && binary_to_server_ == Option::kAccepted) reply(kWont);
        binary_to_server_ = verb == kDo ? Option::kAccepted : Option::kRefused;
        return;
    }
    if (option == kBinary) {
        if (verb == kWont && binary_from_server_ == Option::kAccepted) reply(kDont);
        binary_from_server_ = verb == kWill ? Option::kAccepted : Option::kRefused;
        return;
    }
    // The server's own offer of the COM-PORT-OPTION: taken (it only lets it send us
    // notifications), and answered once, so that no negotiation loop starts.
    if (option == kComPortOption) {
        const bool will = verb == kWill;
        if (will != server_com_port_) reply(will ? kDo : kDont);
        server_com_port_ = will;
        return;
    }
    // Everything else is declined.
    if (verb == kWill) reply(kDont);
    else if (verb == kDo) reply(kWont);
}

void TelnetCodec::Subnegotiation(Bytes* data) {
    if (sub_.size() < 2 || sub_[0] != kComPortOption) {
        notes_.push_back(SubName(sub_));
        return;
    }
    const bool from_server = sub_[1] >= kServerOffset;
    const uint8_t command = from_server ? sub_[1] - kServerOffset : sub_[1];
    const std::string words = SubName(sub_);
    if (command == kNotifyLineState || command == kNotifyModemState) {
        if (sub_.size() < 3) return;
        std::optional<uint8_t>& seen = command == kNotifyLineState ? line_state_seen_ : modem_state_seen_;
        if (seen != sub_[2] && state_notes_ < kMaxStateNotes) {
            notes_.push_back(words);
            if (++state_notes_ == kMaxStateNotes) notes_.push_back("(further line and modem state changes not noted)");
        }
        seen = sub_[2];
        (command == kNotifyLineState ? line_state_ : modem_state_) = sub_[2];
        return;
    }
    notes_.push_back(words);
    if (command == kFlowControlSuspend) suspended_ = true;
    else if (command == kFlowControlResume) suspended_ = false;
    if (!from_server || sub_.size() < 3) return;
    if (command == kPurgeData) {
        data->clear();
        purged_ = true;
    }
    if (command == kSetControl && !IsFlowControl(sub_[2])) return;  // DTR, RTS, BREAK: not checked
    uint32_t value = 0;
    for (size_t i = 2; i < sub_.size() && i < 6; ++i) value = value << 8 | sub_[i];
    answers_[command] = command == kSetBaudRate ? value : sub_[2];
}

}  // namespace dpx::platform
