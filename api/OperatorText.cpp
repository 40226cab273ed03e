#include "api/OperatorText.h"

#include <array>
#include <utility>

#include "common/Format.h"
#include "link/RS232c_bios.h"
#include "model/CommandTable.h"

namespace dpx::api {
namespace {

// The panel's names of the settings an operator changes.
constexpr std::array<std::pair<std::string_view, std::string_view>, 28> kLabels{{
    {"sys_2D3D", "2D-3D"},
    {"sys_input_select", "Input"},
    {"sys_input_porality", "SDI-LR polarity"},
    {"sys_sdi_mix", "SDI output"},
    {"sys_hdmi_mix", "HDMI output"},
    {"sys_3dfmt", "3D format"},
    {"sys_rotate", "Rotate"},
    {"sys_f_sync", "Frame sync"},
    {"sys_beep", "Beep"},
    {"sys_bk_light", "Back light"},
    {"sys_save1_para", "Adjust memory 1 parallax"},
    {"sys_save1_inte", "Adjust memory 1 intensity"},
    {"sys_save1_subi", "Adjust memory 1 sub intensity"},
    {"sys_save2_para", "Adjust memory 2 parallax"},
    {"sys_save2_inte", "Adjust memory 2 intensity"},
    {"sys_save2_subi", "Adjust memory 2 sub intensity"},
    {"sys_adj3d_mode", "Adjust"},
    {"sys_adj3d_para", "Parallax"},
    {"sys_adj3d_inte", "Intensity"},
    {"sys_adj3d_subi", "Sub intensity"},
    {"sys_LRadj_mode", "SDI-LR adjust"},
    {"sys_LRadj_split", "Split position"},
    {"sys_scp_mode", "Scope"},
    {"sys_scp_src", "Scope source"},
    {"sys_scp_pos", "Scope position"},
    {"sys_scp_fil", "Scope filter"},
    {"sys_scp_wgain", "W. F. M. gain"},
    {"sys_scp_vgain", "Vector gain"},
}};

// What a link result means to an operator.
std::string ResultText(int64_t result) {
    switch (result) {
    case kResultUnknownCommand: return "the box does not know the command";
    case kResultParameterError: return "the box refused the value";
    case kResultInvalidNow: return "the box refuses it now";
    case kResultTimeout: return "the box did not answer";
    case kResultNotSent: return "not connected";
    case kResultOutOfStep: return "the box's answers came out of step; try again";
    default: return "the box's answer was not understood";
    }
}

// "/memory/3/load" -> 3 for `what` "memory"; 0 otherwise.
int Slot(std::string_view path, std::string_view what) {
    const std::string prefix = "/" + std::string(what) + "/";
    if (path.substr(0, prefix.size()) != prefix || path.size() < prefix.size() + 1) return 0;
    const char n = path[prefix.size()];
    return n >= '1' && n <= '9' ? n - '0' : 0;
}

bool Ends(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::string TextOf(const Json& answer, const char* field) {
    const Json* value = answer.Find(field);
    return value && value->type() == Json::Type::kString ? value->Text() : std::string();
}

}  // namespace

const char* ConnectionName(const SessionView& view) {
    if (!view.connected) return "disconnected";
    return view.not_answering ? "not answering" : "connected";
}

std::string SettingLabel(std::string_view key) {
    for (const auto& [k, label] : kLabels)
        if (k == key) return std::string(label);
    return std::string(key);
}

std::string OperatorText(std::string_view path, int status, const Json& answer) {
    const std::string error = TextOf(answer, "error");
    const std::string cause = TextOf(answer, "cause");
    const Json* result = answer.Find("result");
    const int64_t code = result && result->IsInteger() ? result->Integer() : -1;
    if (status == 409 && error.rfind("busy", 0) == 0) return "busy: another action on this box is still running";
    if (const int n = Slot(path, "memory"); n && Ends(path, "/load") && status == 404) return Format("Memory %d is empty", n);
    if (const int n = Slot(path, "memory"); n && status == 422) return Format("Memory %d cannot be read: %s", n, error.c_str());
    // The box's rules refuse with the panel's own words; they stay as they are.
    if (error.rfind("Cannot Change!", 0) == 0) return error;
    if (code == kResultNotSent || error.rfind("not connected", 0) == 0) return "not connected";
    // The box went away or stopped answering: its cause says it best.
    if (cause == RS232c_bios::kSilentCause) return "the box is not answering";
    if (path == "/connect" && status == 409) return "the box cannot be reached" + (cause.empty() ? std::string() : ": " + cause);
    if (status == 409 && !cause.empty()) return "the box's connection was lost: " + cause;
    if (const int n = Slot(path, "adjust-memory"); n && code > 0) return Format("Adjust memory %d: %s", n, ResultText(code).c_str());
    // The setting whose step failed: the last of the steps sent.
    if (const Json* steps = answer.Find("steps"); steps && code > 0) {
        for (auto step = steps->Items().rbegin(); step != steps->Items().rend(); ++step) {
            const Json* failed = step->Find("result");
            const Json* key = step->Find("command");
            if (!failed || !key || !failed->IsInteger() || failed->Integer() == kResultOk) continue;
            const std::string what = SettingLabel(key->Text());
            if (path == "/sync" || path == "/connect" || Ends(path, "/load"))
                return Format("Synchronisation incomplete: %s, %s", what.c_str(), ResultText(failed->Integer()).c_str());
            const int64_t r = failed->Integer();
            if (r == kResultNotSent) return "not connected";
            // A refusal of the box's own (a NAK) names its status too.
            const bool nak = r >= kResultUnknownCommand && r <= kResultInvalidNow;
            return what + ": " + ResultText(r) + (nak ? std::string(" (") + LinkResultMeaning(static_cast<int>(r)) + ")" : "");
        }
    }
    if (code > 0) return ResultText(code);
    return error.empty() ? Format("refused (%d)", status) : error;
}

}  // namespace dpx::api
