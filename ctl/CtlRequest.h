#pragma once
// What one dpx20ctl run is asked to do: its command line turned into options and steps, and
// the settings file that `sync` pushes (a file, or standard input for "-"). Free of Qt and of
// any port, so that it is built with the core and fuzzed.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "link/RS232c_bios.h"
#include "session/Change.h"
#include "settings/OptionFile.h"

namespace dpx::cli {

// A command line that cannot be run; the text says why (without the program's name).
class UsageError {
public:
    explicit UsageError(std::string text) : text(std::move(text)) {}
    std::string text;
    std::string command;  // the command whose arguments were refused, when it is a known one
};

struct Options {
    std::string port = "1";
    bool no_ack = false;
    bool virtual_mode = false;
    bool json = false;
    bool quiet = false;
    bool stay_logged_in = false;
    bool help = false;
    bool version = false;
    std::string trace;
    std::string api;        // serve: where the control API listens ([ADDR:]PORT)
    std::string api_cert;   // serve: the PEM certificate and key of HTTPS
    std::string api_key;
    std::string ember;      // serve: where the Ember+ provider listens ([ADDR:]PORT)
    bool new_token = false;  // token: replace the control API's token
    std::string sync_file;  // serve: the file pushed to the box before serving
    std::string panel;      // set, sync, memory: the running panel or service to ask instead
    bool port_given = false;
    // serve: the boxes of a service of several, each "NAME=PORT" or "NAME=PORT,sync=FILE";
    // with --panel: the one box of the service to ask ("NAME").
    std::vector<std::string> boxes;
    std::string box;
    // serve, fleet: the MQTT broker (mqtt:// or mqtts:// URL), its CA file, the topic prefix and
    // the service's name on it.
    std::string mqtt, mqtt_ca, mqtt_prefix, mqtt_name;
    std::vector<std::string> words;  // the command and its arguments
};

// One box of a service: its name, its port (any form --port takes) and the file pushed to it
// before serving; its folder is NAME/ under the current one, or the current one itself.
struct BoxOption {
    std::string name;
    std::string port;
    std::string sync_file;
    bool here = false;  // served from the current folder (serve --port)
};
// The boxes of `serve`: throws UsageError for a bad or repeated name, an empty port, an
// unknown item after the port, or two boxes on one port (`same_port` says whether two port
// names mean one port).
std::vector<BoxOption> ParseBoxes(const std::vector<std::string>& given, const std::string& sync_file,
                                const std::function<bool(const std::string&, const std::string&)>& same_port);

// The options and words of argv[1..argc-1]; throws UsageError.
Options ParseArguments(int argc, const char* const* argv);
// Whether the command line asks for JSON, even when it cannot be parsed as a whole.
bool JsonRequested(int argc, const char* const* argv);

// One unit of work on the box: what it is called in the output, and the call.
struct Step {
    std::string command;
    long value = 0;
    bool has_value = true;
    std::function<int(RS232c_bios&)> run;  // 1 success, 0 failure
};

// The work of a command: `ports`, `serve`, `token`, the steps of `set`, `send` and `memory`, or the file of
// `sync` ("-": standard input).
struct Plan {
    std::string command;
    std::vector<Step> steps;
    std::string sync_file;
    // `set` only: the text of the box's rule that refuses the values as given (nothing is
    // then sent). The steps are the commands the rules send for the values, in order; `values`
    // the values as given, which a running panel or service plans against its own settings.
    std::string refusal;
    SettingValues values;
};
// Throws UsageError for an unknown command, key or value, or the wrong arguments. `set` is
// planned by the box's rules against `known`, the box's settings as far as they are known.
Plan MakePlan(const std::vector<std::string>& words, const SettingsRecord& known = SettingsRecord{});

// --port as a COM number: "N" or "COMN" (any case) with N from 1 to 8 gives N; a number
// outside 1-8 gives -1, and so does "COMN" except on Windows, where it names that device;
// any other text gives 0: a port name for the platform to check.
int ComNumberOf(const std::string& port);

// Reads the options or memory file `name` for `sync` into `into` without rewriting anything:
// 1 on success, 0 with the reader's messages. "-" reads `in` (at most kStdinLimit bytes)
// and names it "-" in the messages.
constexpr std::size_t kStdinLimit = 1 << 20;
int ReadSyncFile(const std::string& name, std::FILE* in, SettingsRecord& into);

}  // namespace dpx::cli
