#include "ctl/CtlRequest.h"

#include "session/Change.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "common/Format.h"
#include "ctl/BoxFile.h"
#include "common/MessageSink.h"
#include "model/SettingTable.h"
#include "session/Change.h"
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

Step SetStep(const std::string& assignment) {
    const std::size_t eq = assignment.find('=');
    const std::string key = assignment.substr(0, eq);
    const Setting* setting = FindSetting(key);
    if (!setting || !setting->Settable())
        throw UsageError("unknown key \"" + key + "\"; the keys the box takes: " + SettableKeys());
    const ValueRange range = setting->Range();
    long v = 0;
    if (eq == std::string::npos || !ParseInt(assignment.substr(eq + 1), range.low, range.high, &v) ||
        !range.Holds(static_cast<int32_t>(v)))
        throw UsageError(Format("%s takes %s: %s", setting->key, RangeText(range).c_str(), assignment.c_str()));
    const int command = setting->command;
    return {key, v, true, [command, v](RS232c_bios& link) { return link.SetValue(command, static_cast<int32_t>(v)); }};
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
    const int command = args[0] == "save" ? kMEMSV : kMEMLD;
    // The box numbers its memories from 0.
    return {"memory " + args[0], slot, true,
            [command, slot](RS232c_bios& link) { return link.SetValue(command, static_cast<int32_t>(slot - 1)); }};
}

// ---------------------------------------------------------------- standard input for `sync -`

// `text` with every `from` replaced by `to`.
std::string Renamed(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

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
    // The reader's notices name the temporary file: they are shown naming "-" instead.
    int result = 0;
    std::vector<std::pair<std::string, std::string>> notices;
    {
        MessageCapture kept;
        result = ReadOptionFile(file.string(), into);
        for (std::size_t i = 0; i < kept.texts.size(); ++i) notices.emplace_back(kept.texts[i], kept.details[i]);
    }
    for (const auto& [text, detail] : notices) ShowMessage(Renamed(text, file.string(), "-"), Renamed(detail, file.string(), "-"));
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
            o.port_given = true;
        } else if (a.rfind("--port=", 0) == 0) {
            o.port = a.substr(7);
            o.port_given = true;
        } else if (a == "--box") {
            const std::string box = value("--box");
            if (box.find('=') != std::string::npos) o.boxes.push_back(box);
            else o.box = box;
        } else if (a == "--no-ack") {
            o.no_ack = true;
        } else if (a == "--virtual") {
            o.virtual_mode = true;
        } else if (a == "--trace") {
            o.trace = value("--trace");
        } else if (a.rfind("--trace=", 0) == 0) {
            o.trace = a.substr(8);
        } else if (a == "--api") {
            o.api = value("--api");
        } else if (a == "--ember") {
            o.ember = value("--ember");
        } else if (a == "--api-cert") {
            o.api_cert = value("--api-cert");
        } else if (a == "--api-key") {
            o.api_key = value("--api-key");
        } else if (a == "--mqtt") {
            o.mqtt = value("--mqtt");
        } else if (a == "--mqtt-ca") {
            o.mqtt_ca = value("--mqtt-ca");
        } else if (a == "--mqtt-prefix") {
            o.mqtt_prefix = value("--mqtt-prefix");
        } else if (a == "--mqtt-name") {
            o.mqtt_name = value("--mqtt-name");
        } else if (a == "--new") {
            o.new_token = true;
        } else if (a == "--sync") {
            o.sync_file = value("--sync");
        } else if (a == "--panel") {
            o.panel = value("--panel");
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
    // -p http://HOST:PORT names a running panel or service too.
    if (o.port.rfind("http://", 0) == 0 || o.port.rfind("https://", 0) == 0) o.panel = o.port;
    return o;
}

std::vector<BoxOption> ParseBoxes(const std::vector<std::string>& given, const std::string& sync_file,
                                const std::function<bool(const std::string&, const std::string&)>& same_port) {
    std::vector<BoxOption> boxes;
    for (const std::string& option : given) {
        BoxOption box;
        const std::size_t eq = option.find('=');
        box.name = option.substr(0, eq);
        std::string rest = option.substr(eq + 1);
        const std::size_t comma = rest.find(',');
        box.port = rest.substr(0, comma);
        box.sync_file = sync_file;
        if (comma != std::string::npos) {
            const std::string item = rest.substr(comma + 1);
            if (item.rfind("sync=", 0) != 0 || item.size() == 5)
                throw UsageError("--box " + option + ": after the port only sync=FILE is taken");
            box.sync_file = item.substr(5);
        }
        if (!ValidBoxName(box.name))
            throw UsageError("--box " + option + ": a box's name is 1 to 32 letters or digits (UTF-8), '-' and '_'");
        if (box.port.empty()) throw UsageError("--box " + option + ": NAME=PORT, the port is missing");
        for (const BoxOption& other : boxes) {
            if (other.name == box.name) throw UsageError("--box " + option + ": the name " + box.name + " is given twice");
            if (same_port(other.port, box.port))
                throw UsageError("--box " + option + ": boxes " + other.name + " and " + box.name + " are on one port");
        }
        boxes.push_back(std::move(box));
    }
    return boxes;
}

bool JsonRequested(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") return false;
        if (a == "--json") return true;
        if (a == "-p" || a == "--port" || a == "--trace" || a == "--api" || a == "--sync" || a == "--panel" ||
            a == "--api-cert" || a == "--api-key" || a == "--box" || a == "--ember" || a == "--mqtt" ||
            a == "--mqtt-ca" || a == "--mqtt-prefix" || a == "--mqtt-name")
            ++i;  // the option's value
    }
    return false;
}

namespace {

constexpr char kUnknownCommand[] = "unknown command \"";

Plan PlanOf(const std::vector<std::string>& words, const SettingsRecord& known) {
    Plan plan;
    plan.command = words[0];
    const std::vector<std::string> args(words.begin() + 1, words.end());
    if (plan.command == "ports" || plan.command == "serve" || plan.command == "token" || plan.command == "fleet") {
        if (!args.empty()) throw UsageError(plan.command + " takes no arguments");
    } else if (plan.command == "set") {
        if (args.empty()) throw UsageError("set takes KEY=VALUE...");
        SettingValues values;
        for (const std::string& a : args) {
            const Step step = SetStep(a);
            values.emplace_back(FindSetting(step.command), static_cast<int32_t>(step.value));
        }
        plan.values = values;
        for (const rules::Plan& p : PlanValues(known, values, &plan.refusal))
            for (const rules::Send& send : p.sends) plan.steps.push_back(SetStep(Format("%s=%d", send.setting->key, send.value)));
    } else if (plan.command == "send") {
        plan.steps.push_back(SendStep(args));
    } else if (plan.command == "memory") {
        plan.steps.push_back(MemoryStep(args));
    } else if (plan.command == "sync") {
        if (args.size() != 1 || args[0].empty()) throw UsageError("sync takes one FILE ('-': standard input)");
        plan.sync_file = args[0];
    } else {
        throw UsageError(kUnknownCommand + plan.command + "\"");
    }
    return plan;
}

}  // namespace

Plan MakePlan(const std::vector<std::string>& words, const SettingsRecord& known) {
    if (words.empty()) throw UsageError("no command given");
    try {
        return PlanOf(words, known);
    } catch (UsageError& e) {
        // A known command whose arguments were refused is still named in the report.
        if (e.text.rfind(kUnknownCommand, 0) != 0) e.command = words[0];
        throw;
    }
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
    return ReadOptionFile(name, into);
}

}  // namespace dpx::cli
