#include "cli/Ctl.h"

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/Synchronise.h"
#include "common/Format.h"
#include "common/MessageSink.h"
#include "link/RS232c_bios.h"
#include "platform/ComPorts.h"
#include "settings/OptionFile.h"
#include "settings/SystemSettings.h"

namespace dpx::cli {
namespace {

constexpr char kUsage[] =
    "Usage: dpx20ctl [OPTIONS] COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  ports                   COM1..COM8 with their devices, and the serial ports present\n"
    "  set KEY=VALUE...        options-file keys, each through its device operation, in order\n"
    "  sync FILE               push an options or memory file to the box (three passes at most)\n"
    "  memory save|load 1|2    save or load one of the box's two adjust memories\n"
    "  send WORD [VALUE]       one raw command by its five-character command word\n"
    "\n"
    "Options:\n"
    "  -p, --port PORT         COM number 1-8 (through the COM port map), a device path or a\n"
    "                          network address (default 1)\n"
    "      --no-ack            do not wait for the box's replies\n"
    "      --virtual           send nothing; every step succeeds\n"
    "      --trace FILE        write the frame trace to FILE ('-': standard error)\n"
    "      --json              one JSON object per step on standard output\n"
    "  -q, --quiet             print nothing on success\n"
    "      --stay-logged-in    do not log off at the end\n"
    "  -h, --help              this text\n"
    "      --version           the program version\n"
    "\n"
    "Exit status: 0 success, 1 the box refused a command or did not answer, 2 usage error,\n"
    "3 the port could not be opened, 4 a file could not be read or written.\n";

struct Options {
    std::string port = "1";
    bool no_ack = false;
    bool virtual_mode = false;
    bool json = false;
    bool quiet = false;
    bool stay_logged_in = false;
    std::string trace;
    std::vector<std::string> words;  // the command and its arguments
};

class UsageError {
public:
    explicit UsageError(std::string text) : text(std::move(text)) {}
    std::string text;
};

// Message-box texts go to standard error as plain text; while `collect` is set they are
// kept instead (the synchronisation's summary).
class StderrSink final : public MessageSink {
public:
    void Show(const std::string& text) override { ShowDetailed(text, {}); }
    void ShowDetailed(const std::string& text, const std::string& detail) override {
        if (collect) {
            collected.push_back(text);
            return;
        }
        std::fprintf(stderr, "%s\n", text.c_str());
        if (!detail.empty()) std::fprintf(stderr, "%s\n", detail.c_str());
    }
    bool collect = false;
    std::vector<std::string> collected;
};

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

// One unit of work on the box: what it is called in the output, and the call.
struct Step {
    std::string command;
    long value = 0;
    bool has_value = true;
    std::function<int(RS232c_bios&)> run;  // 1 success, 0 failure
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

// ---------------------------------------------------------------- one run on the box

class Session {
public:
    explicit Session(Options options) : o_(std::move(options)) {}
    ~Session() {
        link_.Trace().SetStream(nullptr);
        if (trace_file_ && trace_file_ != stderr) std::fclose(trace_file_);
        SetMessageSink(previous_sink_);
        SetLink(previous_link_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    int Execute() {
        const std::string& command = o_.words[0];
        const std::vector<std::string> args(o_.words.begin() + 1, o_.words.end());
        std::vector<Step> steps;
        std::string sync_file;
        if (command == "ports") {
            if (!args.empty()) throw UsageError("ports takes no arguments");
            return Ports();
        } else if (command == "set") {
            if (args.empty()) throw UsageError("set takes KEY=VALUE...");
            for (const std::string& a : args) steps.push_back(SetStep(a));
        } else if (command == "send") {
            steps.push_back(SendStep(args));
        } else if (command == "memory") {
            steps.push_back(MemoryStep(args));
        } else if (command == "sync") {
            if (args.size() != 1) throw UsageError("sync takes one FILE");
            sync_file = args[0];
        } else {
            throw UsageError("unknown command \"" + command + "\"");
        }
        const int port_check = CheckPort();
        if (port_check != kExitOk) return port_check;

        // A damaged file is refused before the port is opened: nothing is sent.
        SettingsRecord loaded;
        if (!sync_file.empty() && ReadOptionFile(sync_file, loaded, Rewrite::kNever) != 1) return kExitFile;
        if (!o_.trace.empty()) {
            trace_file_ = o_.trace == "-" ? stderr : std::fopen(o_.trace.c_str(), "w");
            if (!trace_file_) {
                std::fprintf(stderr, "dpx20ctl: cannot write the trace file %s: %s\n", o_.trace.c_str(),
                             std::strerror(errno));
                return kExitFile;
            }
            link_.Trace().SetStream(trace_file_);
        }

        int code = Login();
        if (code != kExitOk) return code;
        if (!sync_file.empty()) code = Sync(sync_file, loaded);
        for (const Step& step : steps) {
            code = Do(step);
            if (code != kExitOk) break;  // the first refusal ends the run
        }
        if (!o_.stay_logged_in && link_.ConnectLink(0) != 1 && code == kExitOk) {
            std::fprintf(stderr, "dpx20ctl: logoff: result %d (%s)\n", static_cast<int>(link_.State().link_result),
                         LinkResultMeaning(link_.State().link_result));
            code = kExitBox;
        }
        return code;
    }

private:
    // Which COM number the link uses, and how its port is made.
    int CheckPort() {
        int com = 0;
        const std::string& p = o_.port;
        if (p.size() == 1 && p[0] >= '1' && p[0] <= '8') com = p[0] - '0';
        if (p.size() == 4 && (p.rfind("COM", 0) == 0 || p.rfind("com", 0) == 0) && p[3] >= '1' && p[3] <= '8')
            com = p[3] - '0';
        if (com != 0) {
            link_.SetPortFactory(platform::MakePortFactory(), platform::ComDeviceName);
            link_.SetComNumber(com);
            return kExitOk;
        }
        std::string why;
        if (!platform::CheckPortName(p, &why)) throw UsageError("--port " + p + ": " + why + " " + platform::PortNameHint());
        // A device path or address is served as COM1 of this run, beside the map.
        link_.SetPortFactory([p](int) { return platform::MakeSerialPort(p); });
        return kExitOk;
    }

    int Login() {
        link_.SetDebugMode(0);  // the panel's debug message boxes have no place here
        link_.SetNoAckMode(o_.no_ack ? 1 : 0);
        link_.SetVirtualMode(o_.virtual_mode ? 1 : 0);
        if (link_.ConnectLink(1) == 1) return kExitOk;
        const SerialPort* port = link_.Port(link_.State().link_port);
        if (port && port->IsUsable()) {
            std::fprintf(stderr, "dpx20ctl: login: result %d (%s)\n", static_cast<int>(link_.State().link_result),
                         LinkResultMeaning(link_.State().link_result));
            if (!link_.State().link_failure.empty()) std::fprintf(stderr, "%s\n", link_.State().link_failure.c_str());
            return kExitBox;
        }
        std::fprintf(stderr, "dpx20ctl: cannot open the port: %s\n",
                     link_.State().link_failure.empty() ? o_.port.c_str() : link_.State().link_failure.c_str());
        return kExitPort;
    }

    int Do(const Step& step) {
        const auto t0 = std::chrono::steady_clock::now();
        link_.ClearResult();
        const bool ok = step.run(link_) == 1;
        const long ms = Ms(t0);
        const int result = ok ? kResultOk : link_.State().link_result;
        if (o_.json) {
            std::string line = "{\"command\":" + JsonString(step.command);
            if (step.has_value) line += Format(",\"value\":%ld", step.value);
            line += Format(",\"result\":%d,\"meaning\":%s,\"time_ms\":%ld}", result,
                           JsonString(LinkResultMeaning(result)).c_str(), ms);
            if (!ok || !o_.quiet) std::printf("%s\n", line.c_str());
        } else if (ok && !o_.quiet) {
            std::printf("%s: %s (%ld ms)\n", Name(step).c_str(), LinkResultMeaning(result), ms);
        }
        std::fflush(stdout);
        if (ok) return kExitOk;
        std::fprintf(stderr, "dpx20ctl: %s: result %d (%s)\n", Name(step).c_str(), result, LinkResultMeaning(result));
        return kExitBox;
    }

    int Sync(const std::string& file, const SettingsRecord& loaded) {
        // The link options are this run's, not the file's.
        SystemSettings = loaded;
        SystemSettings.vertual_mode = o_.virtual_mode ? 1 : 0;
        SystemSettings.sys_no_ack = o_.no_ack ? 1 : 0;
        SystemSettings.debug_mode = 0;
        const auto t0 = std::chrono::steady_clock::now();
        sink_.collect = true;
        const bool ok = SynchroniseAll() == 1;
        sink_.collect = false;
        const long ms = Ms(t0);
        std::string summary;
        if (!sink_.collected.empty()) {
            summary = sink_.collected.back();
            sink_.collected.pop_back();
        }
        for (const std::string& text : sink_.collected) std::fprintf(stderr, "%s\n", text.c_str());
        const int result = ok ? kResultOk : sync_last_failure;
        const bool show = !ok || !o_.quiet;
        if (show && o_.json) {
            std::printf("{\"command\":\"sync\",\"file\":%s,\"result\":%d,\"meaning\":%s,\"errors\":%d,"
                        "\"summary\":%s,\"time_ms\":%ld}\n",
                        JsonString(file).c_str(), result, JsonString(LinkResultMeaning(result)).c_str(),
                        static_cast<int>(sync_error_count), JsonString(summary).c_str(), ms);
        } else if (show) {
            std::fprintf(ok ? stdout : stderr, "%s\n", summary.c_str());
        }
        std::fflush(stdout);
        if (ok) return kExitOk;
        std::fprintf(stderr, "dpx20ctl: sync: result %d (%s)\n", result, LinkResultMeaning(result));
        return kExitBox;
    }

    int Ports() {
        for (int n = 1; n <= 8; ++n) {
            if (o_.json) {
                std::printf("{\"com\":%d,\"device\":%s,\"state\":%s}\n", n,
                            JsonString(platform::ComDeviceName(n)).c_str(),
                            JsonString(platform::DescribeComPort(n)).c_str());
            } else {
                std::printf("COM%d  %s\n", n, platform::DescribeComPort(n).c_str());
            }
        }
        const std::vector<platform::SerialPortEntry> present = platform::ListSerialPorts();
        if (!o_.json) std::printf("\nSerial ports present:%s\n", present.empty() ? " none" : "");
        for (const platform::SerialPortEntry& e : present) {
            if (o_.json) {
                std::printf("{\"port\":%s,\"description\":%s,\"manufacturer\":%s,\"serial_number\":%s,\"by_id\":%s}\n",
                            JsonString(e.location).c_str(), JsonString(e.description).c_str(),
                            JsonString(e.manufacturer).c_str(), JsonString(e.serial_number).c_str(),
                            JsonString(e.by_id).c_str());
                continue;
            }
            std::string line = e.location;
            for (const std::string* part : {&e.description, &e.manufacturer, &e.serial_number})
                if (!part->empty()) line += "  " + *part;
            if (!e.by_id.empty()) line += "\n    " + e.by_id;
            std::printf("%s\n", line.c_str());
        }
        return kExitOk;
    }

    static std::string Name(const Step& step) {
        return step.has_value ? step.command + (step.command.rfind("sys_", 0) == 0 ? "=" : " ") + std::to_string(step.value)
                              : step.command;
    }
    static long Ms(std::chrono::steady_clock::time_point since) {
        using namespace std::chrono;
        return static_cast<long>(duration_cast<milliseconds>(steady_clock::now() - since).count());
    }

    Options o_;
    RS232c_bios link_;
    RS232c_bios* previous_link_ = SetLink(&link_);  // the synchronisation uses Link()
    StderrSink sink_;
    MessageSink* previous_sink_ = SetMessageSink(&sink_);
    std::FILE* trace_file_ = nullptr;
};

Options Parse(int argc, char** argv, bool* help, bool* version) {
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
            *help = true;
        } else if (a == "--version") {
            *version = true;
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

}  // namespace

int Run(int argc, char** argv) {
    try {
        bool help = false;
        bool version = false;
        Options options = Parse(argc, argv, &help, &version);
        if (help) {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
        if (version) {
            std::printf("dpx20ctl %s\n", DPX20_VERSION);
            return kExitOk;
        }
        if (options.words.empty()) throw UsageError("no command given");
        Session session(std::move(options));
        return session.Execute();
    } catch (const UsageError& e) {
        std::fprintf(stderr, "dpx20ctl: %s\nTry 'dpx20ctl --help'.\n", e.text.c_str());
        return kExitUsage;
    }
}

}  // namespace dpx::cli
