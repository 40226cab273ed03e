#include "sim/BoxModel.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "model/CommandTable.h"

namespace dpx::sim {
namespace {

// Where the box keeps the value of each value command; the values it takes are the
// command's in CommandTable.
struct ValueRule {
    int command;
    int* (*field)(BoxState&);
};

#define DPX_FIELD(expr) [](BoxState& s) -> int* { return &s.expr; }
const ValueRule kValueRules[] = {
    {kINPSE, DPX_FIELD(input_select)},
    {kBOTHP, DPX_FIELD(input_porality)},
    {kSDIMX, DPX_FIELD(sdi_mix)},
    {kHDMIM, DPX_FIELD(hdmi_mix)},
    {k3DFOR, DPX_FIELD(format_3d)},
    {kSDIRT, DPX_FIELD(rotate)},
    {kFRASY, DPX_FIELD(f_sync)},
    {kBEEPA, DPX_FIELD(beep)},
    {kBACKL, DPX_FIELD(back_light)},
    {kMEMSV, nullptr},
    {kMEMLD, nullptr},
    {kSCMOD, DPX_FIELD(scope_mode)},
    {kSCSIG, DPX_FIELD(scope_source)},
    {kSCPOS, DPX_FIELD(scope_position)},
    {kSCPFI, DPX_FIELD(scope_filter)},
    {kSCWFG, DPX_FIELD(wfm_gain)},
    {kSCVEG, DPX_FIELD(vector_gain)},
    {kADJMD, DPX_FIELD(adjust_mode)},
    {kADJOS, DPX_FIELD(split_position)},
    {kADJPX, DPX_FIELD(adjust[0])},
    {kADJIY, DPX_FIELD(adjust[1])},
    {kADJSI, DPX_FIELD(adjust[2])},
    {kCONVE, DPX_FIELD(conversion)},
};
#undef DPX_FIELD

const ValueRule* RuleOf(int command) {
    for (const ValueRule& rule : kValueRules)
        if (rule.command == command) return &rule;
    return nullptr;
}

// The value a frame carries, or false when its parameter bytes break the template.
bool FrameValue(const CommandRow& row, const uint8_t* frame, int* value) {
    if (row.frame[8] == '*') {
        int v = static_cast<int8_t>(frame[9]);
        if (frame[8] == '+' && v >= 0) { *value = v; return true; }
        if (frame[8] == '-' && v < 0) { *value = v; return true; }
        return false;
    }
    if (frame[8] != static_cast<uint8_t>(row.frame[8])) return false;
    if (row.frame[9] == '*') {
        *value = frame[9];
        return true;
    }
    return frame[9] == static_cast<uint8_t>(row.frame[9]);
}

}  // namespace

std::vector<uint8_t> AckReply() { return {kAckFrame, kAckFrame + kFrameSize}; }

std::vector<uint8_t> NakReply(uint8_t status) {
    std::vector<uint8_t> reply(kNakPrefix, kNakPrefix + 6);
    reply.push_back(status);
    reply.insert(reply.end(), {'0', '0', '0', '\r'});
    return reply;
}

BoxModel::BoxModel(BoxOptions options) : options_(std::move(options)) {}

std::vector<Exchange> BoxModel::Receive(const uint8_t* data, std::size_t n, uint32_t now_ms) {
    pending_.insert(pending_.end(), data, data + n);
    std::vector<Exchange> out;
    std::size_t pos = 0;
    for (;;) {
        while (pos < pending_.size() && pending_[pos] != '!') ++pos;
        if (pending_.size() - pos < kFrameSize) break;
        const uint8_t* frame = pending_.data() + pos;
        if (frame[10] != '\r') {  // not a frame: look for the next '!'
            ++pos;
            continue;
        }
        Exchange ex;
        std::memcpy(ex.frame.data(), frame, kFrameSize);
        ex.word.assign(reinterpret_cast<const char*>(frame + 3), 5);
        pos += kFrameSize;
        if (frame[1] != '0' || frame[2] != '0') continue;  // another box's address
        ++frames_;
        ex.reply = Answer(frame, &ex.command, now_ms);
        if (options_.keep_history) history_.push_back(ex);
        out.push_back(std::move(ex));
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
    return out;
}

std::vector<uint8_t> BoxModel::Answer(const uint8_t* frame, int* command, uint32_t now_ms) {
    char word[5];
    std::memcpy(word, frame + 3, 5);
    const int n = FindCommandByFrameWord(word);
    *command = n;
    if (n < 0) return NakReply(0);
    auto forced = options_.forced_nak.find(std::string(word, 5));
    if (forced != options_.forced_nak.end()) return NakReply(forced->second);

    const CommandRow& row = CommandTable[static_cast<std::size_t>(n)];
    if (row.kind == kKindLogin) {
        int ignored;
        if (!FrameValue(row, frame, &ignored)) return NakReply(1);
        if (n == kBCN_Logoff && !state_.logged_in) return NakReply(2);
        state_.logged_in = n == kBCN_Login;
        state_.category = kCategoryNone;
        return AckReply();
    }
    if (!state_.logged_in) return NakReply(2);
    if (row.kind == kKindCategorySelect) {
        int ignored;
        if (!FrameValue(row, frame, &ignored)) return NakReply(1);
        state_.category = row.category;
        return AckReply();
    }
    if (state_.category != row.category) return NakReply(2);
    const ValueRule* rule = RuleOf(n);
    int value = 0;
    if (!rule || !FrameValue(row, frame, &value) || !row.values.Holds(value)) return NakReply(1);

    if (n == kADJMD && mode_changed_ && options_.adjmd_busy_ms > 0 &&
        now_ms - mode_change_ms_ < options_.adjmd_busy_ms)
        return NakReply(2);
    if (n == kMEMSV) {
        (value == 0 ? state_.memory1 : state_.memory2) = state_.adjust;
    } else if (n == kMEMLD) {
        state_.adjust = value == 0 ? state_.memory1 : state_.memory2;
    } else {
        int* field = rule->field(state_);
        if ((n == kADJMD || n == kCONVE) && *field != value) {
            mode_changed_ = true;
            mode_change_ms_ = now_ms;
        }
        *field = value;
    }
    return AckReply();
}

std::string BoxModel::Dump() const {
    const BoxState& s = state_;
    const int adj3d = s.adjust_mode >= 4 ? s.adjust_mode : 0;
    const int lradj = s.adjust_mode <= 3 ? s.adjust_mode : 0;
    const std::pair<const char*, long> lines[] = {
        {"logged_in", s.logged_in ? 1 : 0},
        {"category", s.category},
        {"frames", static_cast<long>(frames_)},
        {"sys_2D3D", s.conversion},
        {"sys_input_select", s.input_select},
        {"sys_input_porality", s.input_porality},
        {"sys_sdi_mix", s.sdi_mix},
        {"sys_hdmi_mix", s.hdmi_mix},
        {"sys_3dfmt", s.format_3d},
        {"sys_rotate", s.rotate},
        {"sys_f_sync", s.f_sync},
        {"sys_beep", s.beep},
        {"sys_bk_light", s.back_light},
        {"sys_save1_para", s.memory1[0]},
        {"sys_save1_inte", s.memory1[1]},
        {"sys_save1_subi", s.memory1[2]},
        {"sys_save2_para", s.memory2[0]},
        {"sys_save2_inte", s.memory2[1]},
        {"sys_save2_subi", s.memory2[2]},
        {"adjust_mode", s.adjust_mode},
        {"sys_adj3d_mode", adj3d},
        {"sys_adj3d_para", s.adjust[0]},
        {"sys_adj3d_inte", s.adjust[1]},
        {"sys_adj3d_subi", s.adjust[2]},
        {"sys_LRadj_mode", lradj},
        {"sys_LRadj_split", s.split_position},
        {"sys_scp_mode", s.scope_mode},
        {"sys_scp_src", s.scope_source},
        {"sys_scp_pos", s.scope_position},
        {"sys_scp_fil", s.scope_filter},
        {"sys_scp_wgain", s.wfm_gain},
        {"sys_scp_vgain", s.vector_gain},
    };
    std::string text;
    for (const auto& [key, value] : lines) text += std::string(key) + " = " + std::to_string(value) + "\n";
    return text;
}

std::map<std::string, long> ParseDump(const std::string& text) {
    std::map<std::string, long> values;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        char key[64];
        long value;
        if (std::sscanf(line.c_str(), "%63s = %ld", key, &value) == 2) values[key] = value;
    }
    return values;
}

std::string EscapeBytes(const uint8_t* data, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t c = data[i];
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
        else {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string HexBytes(const uint8_t* data, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
        out += buf;
    }
    return out;
}

}  // namespace dpx::sim
