#include "cli/CtlRequest.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "common/Format.h"
#include "common/MessageSink.h"
#include "settings/OptionFile.h"
#include "settings/SettingsFile.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace dpx::cli {
namespace {

bool ParseInt(const std::string& text, long min, long max, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    *value = v;
    return true;
}

// ---------------------------------------------------------------- what `set` takes

using Operation = int (RS232c_bios::*)(int32_t);

struct SettableKey {
    const char* key;
    Operation op;
    int min;
    int max;
    uint32_t only = 0;  // when not 0: the values allowed, as bits
    const char* values; // for the usage message
};

constexpr uint32_t kAdjust3dModes = 1u << 0 | 1u << 4 | 1u << 6 | 1u << 8;

const SettableKey kKeys[] = {
    {"sys_2D3D", &RS232c_bios::SetConversion, 0, 1, 0, "0 or 1"},
    {"sys_input_select", &RS232c_bios::SetInputSelect, 0, 3, 0, "0 to 3"},
    {"sys_input_porality", &RS232c_bios::SetInputPorality, 0, 1, 0, "0 or 1"},
    {"sys_sdi_mix", &RS232c_bios::SetSdiOutput, 0, 1, 0, "0 or 1"},
    {"sys_hdmi_mix", &RS232c_bios::SetHdmiOutput, 0, 1, 0, "0 or 1"},
    {"sys_3dfmt", &RS232c_bios::Set3dFormat, 0, 3, 0, "0 to 3"},
    {"sys_rotate", &RS232c_bios::SetRotate, 0, 6, 0, "0 to 6"},
    {"sys_f_sync", &RS232c_bios::SetFrameSync, 0, 1, 0, "0 or 1"},
    {"sys_beep", &RS232c_bios::SetBeep, 0, 1, 0, "0 or 1"},
    {"sys_bk_light", &RS232c_bios::SetBackLight, -30, 30, 0, "-30 to 30"},
    {"sys_adj3d_mode", &RS232c_bios::SetAdjustMode, 0, 8, kAdjust3dModes, "0, 4, 6 or 8"},
    {"sys_adj3d_para", &RS232c_bios::SetParallax, 0, 60, 0, "0 to 60"},
    {"sys_adj3d_inte", &RS232c_bios::SetIntensity, 0, 60, 0, "0 to 60"},
    {"sys_adj3d_subi", &RS232c_bios::SetSubIntensity, 0, 60, 0, "0 to 60"},
    {"sys_LRadj_mode", &RS232c_bios::SetAdjustMode, 0, 3, 0, "0 to 3"},
    {"sys_LRadj_split", &RS232c_bios::SetSplitPosition, -60, 60, 0, "-60 to 60"},
    {"sys_scp_mode", &RS232c_bios::SetScopeMode, 0, 2, 0, "0 to 2"},
    {"sys_scp_src", &RS232c_bios::SetScopeSource, 0, 3, 0, "0 to 3"},
    {"sys_scp_pos", &RS232c_bios::SetScopePosition, 0, 3, 0, "0 to 3"},
    {"sys_scp_fil", &RS232c_bios::SetScopeFilter, 0, 1, 0, "0 or 1"},
    {"sys_scp_wgain", &RS232c_bios::SetWfmGain, -30, 30, 0, "-30 to 30"},
    {"sys_scp_vgain", &RS232c_bios::SetVectorGain, -30, 30, 0, "-30 to 30"},
};

Step SetStep(const std::string& assignment) {
    const std::size_t eq = assignment.find('=');
    const std::string key = assignment.substr(0, eq);
    for (const SettableKey& k : kKeys) {
        if (key != k.key) continue;
        long v = 0;
        if (eq == std::string::npos || !ParseInt(assignment.substr(eq + 1), k.min, k.max, &v) ||
            (k.only && !(k.only >> v & 1u)))
            throw UsageError(Format("%s takes %s: %s", k.key, k.values, assignment.c_str()));
        const Operation op = k.op;
        return {key, v, true, [op, v](RS232c_bios& link) { return (link.*op)(static_cast<int32_t>(v)); }};
    }
    std::string known;
    for (const SettableKey& k : kKeys) known += std::string(known.empty() ? "" : " ") + k.key;
    throw UsageError("unknown key \"" + key + "\"; the keys the box takes: " + known);
}

Step SendStep(const std::vector<std::string>& args) {
    if (args.empty() || args.size() > 2) throw UsageError("send takes WORD [VALUE]");
    int n = -1;
    for (int i = 0; i < kSendableCommands; ++i)
        if (CommandTable[i].kind != kKindLogin && args[0] == CommandTable[i].word) n = i;
    if (n < 0) throw UsageError("unknown command word \"" + args[0] + "\" (login and logoff are the run's own)");
    long v = 0;
    if (args.size() == 2 && !ParseInt(args[1], -128, 255, &v))
        throw UsageError("the value of a raw command is -128 to 255: " + args[1]);
    const char p1 = IsSignedCommand(n) ? (static_cast<int8_t>(v) < 0 ? '-' : '+') : 0;
    return {args[0], v, args.size() == 2, [n, p1, v](RS232c_bios& link) {
                return link.SendCommand(n, p1, static_cast<int8_t>(v)) == kResultOk ? 1 : 0;
            }};
}

Step MemoryStep(const std::vector<std::string>& args) {
    long slot = 0;
    if (args.size() != 2 || (args[0] != "save" && args[0] != "load") || !ParseInt(args[1], 1, 2, &slot))
        throw UsageError("memory takes save|load 1|2");
    const Operation op = args[0] == "save" ? &RS232c_bios::SaveAdjustMemory : &RS232c_bios::LoadAdjustMemory;
    // The box numbers its memories from 0.
    return {"memory " + args[0], slot, true,
            [op, slot](RS232c_bios& link) { return (link.*op)(static_cast<int32_t>(slot - 1)); }};
}

// ---------------------------------------------------------------- standard input for `sync -`

// Passes every message on with one name replaced by another.
class RenamingSink final : public MessageSink {
public:
    RenamingSink(std::string from, std::string to) : from_(std::move(from)), to_(std::move(to)) {
        restore_ = SetMessageSink(this);
    }
    ~RenamingSink() override { SetMessageSink(restore_); }
    RenamingSink(const RenamingSink&) = delete;
    RenamingSink& operator=(const RenamingSink&) = delete;
    void Show(const std::string& text) override { next_->Show(Renamed(text)); }
    void ShowDetailed(const std::string& text, const std::string& detail) override {
        next_->ShowDetailed(Renamed(text), Renamed(detail));
    }

private:
    std::string Renamed(std::string text) const {
        for (std::size_t at = 0; (at = text.find(from_, at)) != std::string::npos; at += to_.size())
            text.replace(at, from_.size(), to_);
        return text;
    }
    std::string from_;
    std::string to_;
    MessageSink* next_ = &Messages();
    MessageSink* restore_ = nullptr;
};

// The options-file reader takes only regular files, so standard input (a pipe, as often as
// not) is kept in a file of its own in a new folder under the temporary directory.
int ReadStandardInput(std::FILE* in, SettingsRecord& into) {
#ifdef _WIN32
    _setmode(_fileno(in), _O_BINARY);  // the bytes as they are, CR LF and all
#endif
    std::string text;
    char chunk[4096];
    for (std::size_t n; text.size() <= kStdinLimit && (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;)
        text.append(chunk, n);
    if (std::ferror(in)) {
        ShowMessage(Format("Cannot read the option file from standard input: %s", std::strerror(errno)));
        return 0;
    }
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    std::mt19937 random(std::random_device{}() ^
                        static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::path dir;
    for (int tries = 0; !error && dir.empty() && tries < 100; ++tries) {
        const fs::path candidate = base / Format("dpx20ctl-%08x", static_cast<unsigned>(random()));
        if (fs::create_directory(candidate, error)) dir = fs::weakly_canonical(candidate, error);
    }
    const fs::path file = dir / "stdin.ini";
    if (dir.empty() || error || !(std::ofstream(file, std::ios::binary) << text)) {
        ShowMessage("Cannot keep standard input in a temporary file" +
                    (dir.empty() ? std::string() : " in " + settings_file::ShownName(dir)) +
                    (error ? ": " + error.message() : std::string()));
        if (!dir.empty()) fs::remove_all(dir, error);
        return 0;
    }
    int result = 0;
    {
        RenamingSink rename(file.string(), "-");
        result = ReadOptionFile(file.string(), into, Rewrite::kNever);
    }
    fs::remove_all(dir, error);
    return result;
}

}  // namespace

Options ParseArguments(int argc, const char* const* argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) {
            if (i + 1 >= argc) throw UsageError(std::string(name) + " needs a value");
            return std::string(argv[++i]);
        };
        long number = 0;
        if (a == "--") {
            for (++i; i < argc; ++i) o.words.push_back(argv[i]);
        } else if (ParseInt(a, -128, 255, &number)) {
            o.words.push_back(a);  // a negative value, not an option
        } else if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "-p" || a == "--port") {
            o.port = value("--port");
        } else if (a.rfind("--port=", 0) == 0) {
            o.port = a.substr(7);
        } else if (a == "--no-ack") {
            o.no_ack = true;
        } else if (a == "--virtual") {
            o.virtual_mode = true;
        } else if (a == "--trace") {
            o.trace = value("--trace");
        } else if (a.rfind("--trace=", 0) == 0) {
            o.trace = a.substr(8);
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "-q" || a == "--quiet") {
            o.quiet = true;
        } else if (a == "--stay-logged-in") {
            o.stay_logged_in = true;
        } else if (a.size() > 1 && a[0] == '-') {
            throw UsageError("unknown option " + a);
        } else {
            o.words.push_back(a);
        }
    }
    return o;
}

bool JsonRequested(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") return false;
        if (a == "--json") return true;
        if (a == "-p" || a == "--port" || a == "--trace") ++i;  // the option's value
    }
    return false;
}

Plan MakePlan(const std::vector<std::string>& words) {
    if (words.empty()) throw UsageError("no command given");
    Plan plan;
    plan.command = words[0];
    const std::vector<std::string> args(words.begin() + 1, words.end());
    if (plan.command == "ports") {
        if (!args.empty()) throw UsageError("ports takes no arguments");
    } else if (plan.command == "set") {
        if (args.empty()) throw UsageError("set takes KEY=VALUE...");
        for (const std::string& a : args) plan.steps.push_back(SetStep(a));
    } else if (plan.command == "send") {
        plan.steps.push_back(SendStep(args));
    } else if (plan.command == "memory") {
        plan.steps.push_back(MemoryStep(args));
    } else if (plan.command == "sync") {
        if (args.size() != 1 || args[0].empty()) throw UsageError("sync takes one FILE ('-': standard input)");
        plan.sync_file = args[0];
    } else {
        throw UsageError("unknown command \"" + plan.command + "\"");
    }
    return plan;
}

int ComNumberOf(const std::string& port) {
    std::string digits = port;
    bool com_prefix = false;
    if (port.size() > 3 && std::toupper(static_cast<unsigned char>(port[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(port[1])) == 'O' && std::toupper(static_cast<unsigned char>(port[2])) == 'M') {
        digits = port.substr(3);
        com_prefix = true;
    }
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    long n = 0;
    if (ParseInt(digits, 1, 8, &n)) return static_cast<int>(n);
#ifdef _WIN32
    if (com_prefix) return 0;  // COM9 and above: a device of its own
#else
    (void)com_prefix;
#endif
    return -1;
}

int ReadSyncFile(const std::string& name, std::FILE* in, SettingsRecord& into) {
    if (name == "-") return ReadStandardInput(in, into);
    return ReadOptionFile(name, into, Rewrite::kNever);
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c >= 0x7F) out += Format("\\u%04x", c);  // bytes, not UTF-8
                else out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace dpx::cli
