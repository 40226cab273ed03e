#include "platform/TelnetCodec.h"

namespace dpx::platform {
namespace {
// A subnegotiation longer than any COM-PORT-OPTION message is kept only up to here.
constexpr size_t kMaxSub = 64;
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
                if (b == kIac) {  // a doubled IAC is one data byte
                    data->push_back(b);
                    state_ = State::kData;
                } else if (b == kSb) {
                    sub_.clear();
                    state_ = State::kSub;
                } else if (b >= kWill && b <= kDont) {
                    verb_ = b;
                    state_ = State::kVerb;
                } else {
                    state_ = State::kData;  // NOP, GA, DM and the like carry nothing for us
                }
                break;
            case State::kVerb:
                Negotiate(verb_, b, answer);
                state_ = State::kData;
                break;
            case State::kSub:
                if (b == kIac) state_ = State::kSubIac;
                else if (sub_.size() < kMaxSub) sub_.push_back(b);
                break;
            case State::kSubIac:
                if (b == kIac) {
                    if (sub_.size() < kMaxSub) sub_.push_back(b);
                    state_ = State::kSub;
                } else {  // IAC SE ends it; any other command ends a malformed one too
                    Subnegotiation();
                    state_ = State::kData;
                }
                break;
        }
    }
}

void TelnetCodec::Negotiate(uint8_t verb, uint8_t option, Bytes* answer) {
    // Our own offers (COM-PORT-OPTION, binary both ways) were made in Start(); what comes
    // for them is the server's answer and needs none. Everything else is declined.
    if (option == kComPortOption) {
        if (verb == kDo) com_port_ = Option::kAccepted;
        else if (verb == kDont) com_port_ = Option::kRefused;
        return;
    }
    if (option == kBinary) return;
    if (verb == kWill) answer->insert(answer->end(), {kIac, kDont, option});
    else if (verb == kDo) answer->insert(answer->end(), {kIac, kWont, option});
}

void TelnetCodec::Subnegotiation() {
    if (sub_.size() < 3 || sub_[0] != kComPortOption || sub_[1] <= kServerOffset) return;
    const uint8_t command = sub_[1] - kServerOffset;
    uint32_t value = 0;
    for (size_t i = 2; i < sub_.size() && i < 6; ++i) value = value << 8 | sub_[i];
    if (command == kNotifyLineState) line_state_ = sub_[2];
    else if (command == kNotifyModemState) modem_state_ = sub_[2];
    else answers_[command] = command == kSetBaudRate ? value : sub_[2];
}

}  // namespace dpx::platform
