#include "ctl/ServiceRequest.h"

#include "ctl/CtlRequest.h"

namespace dpx::cli {
namespace {

constexpr std::size_t kMaxNameLength = 64;

void CheckName(const std::string& name) {
    bool plain = !name.empty() && name.size() <= kMaxNameLength && name[0] != '.';
    for (const char c : name) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        plain = plain && (letter || c == '-' || c == '_' || c == '.');
    }
    if (!plain)
        throw UsageError("service: the name \"" + name + "\" is not 1 to " + std::to_string(kMaxNameLength) +
                         " letters, digits, '-', '_' or '.' (it names the service and its folder)");
}

// The serve options: parsed as dpx20ctl parses them, and they must make a service.
std::vector<std::string> CheckServeArgs(std::vector<std::string> args) {
    if (!args.empty() && args.back() == "serve") args.pop_back();
    std::vector<const char*> argv = {"dpx20ctl"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back("serve");
    const Options o = ParseArguments(static_cast<int>(argv.size()), argv.data());
    if (o.words.size() != 1) throw UsageError("service: after -- come the options of serve, not a command");
    if (o.api.empty() && o.ember.empty()) throw UsageError("service: serve needs --api [ADDR:]PORT or --ember [ADDR:]PORT");
    if (o.help || o.version || o.json || !o.panel.empty() || o.new_token)
        throw UsageError("service: --help, --version, --json, --panel and --new are not options of serve");
    return args;
}

}  // namespace

ServiceRequest ParseServiceRequest(const std::vector<std::string>& args) {
    const std::string usage = "service install NAME -- SERVE-OPTIONS... | service remove NAME";
    ServiceRequest r;
    if (args.size() < 2) throw UsageError("usage: dpx20ctl " + usage);
    r.action = args[0];
    r.name = args[1];
    CheckName(r.name);
    if (r.action == "remove") {
        if (args.size() != 2) throw UsageError("service remove takes the name alone");
        return r;
    }
    if (r.action != "install" && r.action != "run") throw UsageError("usage: dpx20ctl " + usage);
    if (args.size() < 4 || args[2] != "--") throw UsageError("service " + r.action + " NAME -- SERVE-OPTIONS...: the options of serve come after --");
    r.serve_args = CheckServeArgs({args.begin() + 3, args.end()});
    return r;
}

std::string WindowsCommandLine(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& a : args) {
        if (!line.empty()) line += ' ';
        if (!a.empty() && a.find_first_of(" \t\n\v\"") == std::string::npos) {
            line += a;
            continue;
        }
        line += '"';
        std::size_t backslashes = 0;
        for (const char c : a) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            // Backslashes before a quote are escapes of their own; elsewhere they stand as they are.
            line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(2 * backslashes, '\\');  // before the closing quote
        line += '"';
    }
    return line;
}

}  // namespace dpx::cli
