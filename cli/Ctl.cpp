#include "cli/Ctl.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sync/Synchronise.h"
#include "api/ApiJson.h"
#include "ctl/CtlRequest.h"
#include "cli/Interrupt.h"
#include "cli/PanelClient.h"
#include "cli/Serve.h"
#include "cli/Service.h"
#include "http/ApiServer.h"
#include "common/Format.h"
#include "common/MessageSink.h"
#include "common/TickSource.h"
#include "link/RS232c_bios.h"
#include "platform/ComPorts.h"
#include "platform/QtWorker.h"
#include "session/Session.h"
#include "settings/OptionFile.h"
#include "model/SettingTable.h"
#include "model/SettingsRecord.h"

namespace dpx::cli {
namespace {

constexpr char kUsage[] =
    "Usage: dpx20ctl [OPTIONS] COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  ports                   COM1..COM8 with their devices, and the serial ports present\n"
    "  set KEY=VALUE...        options-file keys, each through its device operation, in order\n"
    "  sync FILE               push an options or memory file to the box (three passes at most);\n"
    "                          '-' reads the file from standard input\n"
    "  memory save|load 1|2    save or load one of the box's two adjust memories\n"
    "  send WORD [VALUE]       one raw command by its five-character command word\n"
    "  serve                   stay logged in and serve the control API (--api) and the\n"
    "                          Ember+ provider (--ember) until Ctrl-C\n"
    "  fleet                   serve the control API and web page (--api) of every box of every\n"
    "                          service on the MQTT broker (--mqtt), as SERVICE/BOX\n"
    "  token [--new]           print the control API's token (made when there is none);\n"
    "                          --new replaces it, and running panels and services take it\n"
    "  service install NAME -- OPTIONS...\n"
    "                          Windows: install and start serve with OPTIONS as the service\n"
    "                          dpx20ctl-serve@NAME (folder and log in %ProgramData%\\dpx20remote\\NAME)\n"
    "  service remove NAME     Windows: stop it (its boxes are logged off) and remove it\n"
    "\n"
    "Options:\n"
    "  -p, --port PORT         COM number 1-8 (through the COM port map), a device path or a\n"
    "                          network address (default 1)\n"
    "      --no-ack            do not wait for the box's replies\n"
    "      --virtual           send nothing; every step succeeds\n"
    "      --trace FILE        write the frame trace to FILE ('-': standard error)\n"
    "      --json              one JSON object on standard output, whatever the outcome\n"
    "  -q, --quiet             print nothing on success\n"
    "      --stay-logged-in    do not log off at the end\n"
    "      --api [ADDR:]PORT   serve: where the control API listens (127.0.0.1 by default)\n"
    "      --api-cert FILE     serve: HTTPS and WSS with this PEM certificate (chain)...\n"
    "      --api-key FILE      ...and this PEM private key (a .p12 certificate: no key file)\n"
    "      --ember [ADDR:]PORT serve: where the Ember+ provider listens (127.0.0.1 and port 9000\n"
    "                          by default); Ember+ has no authentication\n"
    "      --sync FILE         serve: push FILE to the box before serving\n"
    "      --box NAME=PORT[,sync=FILE]\n"
    "                          serve: one box of several (give it once per box), its settings\n"
    "                          in the folder NAME; its API is /api/v1/boxes/NAME/...\n"
    "      --box NAME          with --panel: the box of a service of several to ask\n"
    "      --mqtt URL          serve: also take commands and keep the boxes' state on this MQTT\n"
    "                          broker, mqtt://[USER@]HOST[:PORT] or mqtts://... (the password\n"
    "                          from $DPX20_MQTT_PASSWORD); fleet: the broker to gather from\n"
    "      --mqtt-ca FILE      mqtts: the CA certificates that sign the broker's certificate\n"
    "      --mqtt-prefix P     the topics' first levels (default dpx20)\n"
    "      --mqtt-name NAME    serve: the service's name on the broker (default: the host's)\n"
    "      --panel URL         send set, sync and memory to the control API of a running panel\n"
    "                          or service (http://HOST:PORT; also as -p http://HOST:PORT)\n"
    "  -h, --help              this text\n"
    "      --version           the program version\n"
    "\n"
    "Ctrl-C lets the step in progress end, logs off and reports what was done.\n"
    "Exit status: 0 success, 1 the box refused a command or did not answer, 2 usage error,\n"
    "3 the port could not be opened or set up, or failed during the run, 4 a file could not\n"
    "be read or written, 130 / 143 interrupted by Ctrl-C / SIGTERM.\n";

constexpr char kPrefix[] = "dpx20ctl: ";

long MsSince(std::chrono::steady_clock::time_point since) {
    using namespace std::chrono;
    return static_cast<long>(duration_cast<milliseconds>(steady_clock::now() - since).count());
}

std::string JsonOrNull(const std::optional<std::string>& text) { return text ? JsonString(*text) : "null"; }

std::string JsonArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (const std::string& item : items) out += (out.size() > 1 ? "," : "") + item;
    return out + "]";
}

// What a run tells its caller: messages on standard error as they come, each beginning
// with "dpx20ctl: ", results on standard output, and with --json one object at the end.
class Report {
public:
    explicit Report(bool json) : json_(json) {}

    void SetCommand(const std::string& command) { command_ = command; }
    // A failure: its text goes to standard error now (unless already shown there); the
    // first one decides the exit code and the JSON "error".
    void Fail(int exit, const std::string& text, bool shown = false) {
        if (!shown) std::fprintf(stderr, "%s%s\n", kPrefix, text.c_str());
        if (exit_ != kExitOk) return;
        exit_ = exit;
        error_ = text;
    }
    // Ends every other outcome: 128 + the signal number.
    void Interrupted(int signal, const std::string& text) {
        std::fprintf(stderr, "%s%s\n", kPrefix, text.c_str());
        exit_ = 128 + signal;
        error_ = text;
    }
    void Warn(const std::string& text) {
        std::fprintf(stderr, "%swarning: %s\n", kPrefix, text.c_str());
        warnings_.push_back(JsonString(text));
    }
    // The link result of the latest command of the run (login, a step), with its record.
    void SetResult(int result) { result_ = result; }
    void AddStep(std::string json_object) { steps_.push_back(std::move(json_object)); }
    // A field of the command's own ("ports", the synchronisation's "summary", ...).
    void AddField(const std::string& name, const std::string& json_value) {
        fields_ += "," + JsonString(name) + ":" + json_value;
    }
    bool Failed() const { return exit_ != kExitOk; }
    bool Json() const { return json_; }

    // Prints the JSON object when asked for; returns the exit code.
    int Finish() {
        if (json_) {
            const bool ok = exit_ == kExitOk;
            std::string out = Format("{\"version\":1,\"command\":%s,\"ok\":%s,\"exit\":%d,\"error\":%s,",
                                     JsonOrNull(command_).c_str(), ok ? "true" : "false", exit_,
                                     JsonOrNull(error_).c_str());
            out += result_ ? Format("\"result\":%d,\"meaning\":%s,", *result_, JsonString(LinkResultMeaning(*result_)).c_str())
                           : std::string("\"result\":null,\"meaning\":null,");
            out += "\"steps\":" + JsonArray(steps_) + ",\"warnings\":" + JsonArray(warnings_) + fields_;
            out += Format(",\"time_ms\":%ld}", MsSince(start_));
            std::printf("%s\n", out.c_str());
        }
        std::fflush(stdout);
        return exit_;
    }

private:
    const bool json_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::optional<std::string> command_;
    int exit_ = kExitOk;
    std::optional<std::string> error_;
    std::optional<int> result_;
    std::vector<std::string> steps_;
    std::vector<std::string> warnings_;
    std::string fields_;
};

// Message-box texts go to standard error as plain text behind the program's name, and are
// kept for the report.
class StderrSink final : public MessageSink {
public:
    void Show(const std::string& text) override { ShowDetailed(text, {}); }
    void ShowDetailed(const std::string& text, const std::string& detail) override {
        const std::string whole = detail.empty() ? text : text + "\n" + detail;
        std::fprintf(stderr, "%s%s\n", kPrefix, whole.c_str());
        shown += (shown.empty() ? "" : "\n") + whole;
    }
    std::string shown;
};

bool StopRequested() { return InterruptSignal() != 0; }

const char* SignalName(int signal) { return signal == SIGTERM ? "SIGTERM" : "SIGINT"; }

// ---------------------------------------------------------------- one run on the box

class Command {
public:
    Command(Options options, Report& report, RS232c_bios& link)
        : o_(std::move(options)), report_(report), link_(link) {}
    ~Command() {
        link_.ClosePorts();
        link_.Trace().SetStream(nullptr);
        if (trace_file_ && trace_file_ != stderr) std::fclose(trace_file_);
        SetMessageSink(previous_sink_);
    }
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    void Execute(const Plan& plan) {
        if (plan.command == "ports") return Ports();
        if (plan.command == "serve") return Serve();
        if (plan.command == "token") return Token();
        if (plan.command == "fleet") return Fleet();
        if (!plan.refusal.empty()) return report_.Fail(kExitBox, plan.refusal);
        ChoosePort();
        // A damaged file is refused before the port is opened: nothing is sent.
        SettingsRecord loaded;
        if (!plan.sync_file.empty() && ReadSyncFile(plan.sync_file, stdin, loaded) != 1)
            return report_.Fail(kExitFile, sink_.shown, true);
        if (!OpenTrace()) return;

        CatchInterrupts();
        if (Login()) {
            if (!plan.sync_file.empty()) {
                Sync(plan.sync_file, loaded);
            } else {
                for (const Step& step : plan.steps) {
                    if (StopRequested() || !Do(step)) break;  // the first refusal ends the run
                    ++steps_done_;
                }
                if (!StopRequested() && !report_.Failed()) CheckInStep();
                progress_ = Format("after %d of %d steps", static_cast<int>(steps_done_), static_cast<int>(plan.steps.size()));
            }
        }
        const bool logged_in = link_.State().link_connected == 1;
        Logoff();
        if (const int signal = InterruptSignal()) {
            std::string text = Format("interrupted by %s", SignalName(signal));
            if (!progress_.empty()) text += " " + progress_;
            if (logged_in) text += link_.State().link_connected == 0 ? "; logged off" : "; still logged in";
            report_.Interrupted(signal, text);
        }
    }

    // After a `set` that went through whole, the folder's options file takes what the box
    // took, so that the next run's rules see it; not while a panel or service holds the
    // folder, which keeps the file itself.
    void KeepTaken(const Plan& plan, Session& session) {
        if (report_.Failed() || StopRequested() || steps_done_ != plan.steps.size()) return;
        if (int64_t holder = 0; !session.TakeFolder(&holder)) return;
        SettingsRecord& known = session.Record();
        std::string refusal;
        for (const rules::Plan& p : PlanValues(known, plan.values, &refusal)) rules::Apply(p, known);
        MessageCapture capture;
        session.SaveOptions();
        if (!capture.texts.empty()) report_.Warn(capture.Joined());
    }

private:
    // Logs in, pushes --sync FILE, and serves the control API until Ctrl-C or SIGTERM, which
    // end it normally. One box on --port is served as a box of --box is: named "1", its
    // settings in the options file of the current folder, as the panel keeps them.
    void Serve() {
        if (o_.api.empty() && o_.ember.empty()) throw UsageError("serve needs --api [ADDR:]PORT or --ember [ADDR:]PORT");
        std::vector<BoxOption> boxes;
        if (o_.boxes.empty()) {
            boxes.push_back({"1", o_.port, o_.sync_file, true});
        } else {
            if (o_.port_given) throw UsageError("serve takes either --port or --box NAME=PORT, not both");
            boxes = ParseBoxes(o_.boxes, o_.sync_file, SamePort);
        }
        if (!OpenTrace()) return;
        CatchInterrupts();
        ServeSetup setup{o_.api, {}, 1, o_.no_ack, o_.virtual_mode, StopRequested, o_.api_cert, o_.api_key, o_.ember, Mqtt()};
        setup.trace = trace_file_;
        std::string why;
        if (const int code = ServeBoxes(boxes, setup, &why); code != 0) report_.Fail(code, why);
    }

    MqttSetup Mqtt() const { return {o_.mqtt, o_.mqtt_ca, o_.mqtt_prefix, o_.mqtt_name}; }

    // fleet: no box of its own, every box on the broker.
    void Fleet() {
        if (o_.api.empty() || o_.mqtt.empty()) throw UsageError("fleet needs --api [ADDR:]PORT and --mqtt URL");
        CatchInterrupts();
        const ServeSetup setup{o_.api, {}, 1, false, false, StopRequested, o_.api_cert, o_.api_key, {}, Mqtt()};
        std::string why;
        if (const int code = ServeFleet(setup, &why); code != 0) report_.Fail(code, why);
    }

    // Which COM number the link uses, and how its port is made.
    void ChoosePort() { UsePort(link_, o_.port); }

    bool OpenTrace() {
        if (o_.trace.empty()) return true;
        trace_file_ = o_.trace == "-" ? stderr : std::fopen(o_.trace.c_str(), "w");
        if (!trace_file_) {
            report_.Fail(kExitFile, Format("cannot write the trace file %s: %s", o_.trace.c_str(), std::strerror(errno)));
            return false;
        }
        link_.Trace().SetStream(trace_file_);
        return true;
    }

    // After a failed command: if the port itself failed (a device gone, a connection lost),
    // its cause, also put into the trace; else empty.
    std::string PortCause() {
        const SerialPort* port = link_.Port(link_.State().link_port);
        if (!port || port->IsUsable()) return {};
        const std::string& failure = link_.State().link_failure;
        const std::string cause = failure.empty() ? port->ErrorText() : failure;
        const std::string device = port->DeviceName();
        // The trace line names the device already.
        link_.Trace().Event(Ticks().Now(), device,
                            cause.rfind(device + ": ", 0) == 0 ? cause.substr(device.size() + 2) : cause);
        return cause;
    }
    // Reports the port's cause if the port itself failed, and returns true.
    bool PortFailed(const std::string& what) {
        const std::string cause = PortCause();
        if (cause.empty()) return false;
        report_.Fail(kExitPort, what + ": " + cause);
        return true;
    }

    bool Login() {
        int exit = kExitOk;
        const std::string why = TryLogin(&exit);
        if (exit != kExitOk) report_.Fail(exit, why);
        return why.empty();
    }
    // Opens the port and logs in: empty on success, else why not, with the exit code it means.
    std::string TryLogin(int* exit) {
        link_.SetDebugMode(0);  // the panel's debug message boxes have no place here
        link_.SetNoAckMode(o_.no_ack ? 1 : 0);
        link_.SetVirtualMode(o_.virtual_mode ? 1 : 0);
        *exit = kExitPort;
        // Opening and setting up the port first tells its failures from the box's.
        if (!o_.virtual_mode && link_.OpenComPort() != 1) {
            const std::string& failure = link_.State().link_failure;
            return "cannot open the port: " + (failure.empty() ? o_.port : failure);
        }
        // Not a failure of its own: the interruption is reported as such (exit stays 0).
        if (StopRequested()) {
            *exit = kExitOk;
            return "interrupted before the login";
        }
        const bool ok = link_.ConnectLink(1) == 1;
        const int result = ok ? kResultOk : link_.State().link_result;
        report_.SetResult(result);
        if (ok) {
            *exit = kExitOk;
            return {};
        }
        if (std::string cause = PortCause(); !cause.empty()) return "login: " + cause;
        *exit = kExitBox;
        return Format("login: result %d (%s)", result, LinkResultMeaning(result));
    }

    bool Do(const Step& step) {
        const auto t0 = std::chrono::steady_clock::now();
        link_.ClearResult();
        const uint64_t first = link_.Transactions() + 1;
        const bool ok = step.run(link_) == 1;
        if (ok) accepted_.push_back({&step, first, link_.Transactions()});
        const long ms = MsSince(t0);
        const int result = ok ? kResultOk : link_.State().link_result;
        report_.SetResult(result);
        report_.AddStep(Format("{\"command\":%s,\"value\":%s,\"result\":%d,\"meaning\":%s,\"time_ms\":%ld}",
                               JsonString(step.command).c_str(),
                               step.has_value ? std::to_string(step.value).c_str() : "null", result,
                               JsonString(LinkResultMeaning(result)).c_str(), ms));
        if (ok && !report_.Json() && !o_.quiet) {
            std::printf("%s: %s (%ld ms)\n", Name(step).c_str(), LinkResultMeaning(result), ms);
            std::fflush(stdout);
        }
        if (ok || PortFailed(Name(step))) return ok;
        report_.Fail(kExitBox, Format("%s: result %d (%s)", Name(step).c_str(), result, LinkResultMeaning(result)));
        return false;
    }

    // A step counts as done only when its reply was its own: the replies given up during the
    // run are waited for, and a step the link then doubts (its reply may have been another
    // command's) is a failure of the run, whichever step found the replies out of step.
    void CheckInStep() {
        link_.SettleReplies();
        for (const Accepted& done : accepted_) {
            if (!link_.RepliesDoubted(done.first, done.last)) continue;
            report_.SetResult(kResultOutOfStep);
            report_.Fail(kExitBox, Format("%s: accepted, but its reply may have been another command's: %s",
                                          Name(*done.step).c_str(), LinkResultMeaning(kResultOutOfStep)));
        }
    }

    void Sync(const std::string& file, SettingsRecord settings) {
        // The link options are this run's, not the file's.
        settings.vertual_mode = o_.virtual_mode ? 1 : 0;
        settings.sys_no_ack = o_.no_ack ? 1 : 0;
        settings.debug_mode = 0;
        SyncFigures figures;
        bool ok = false;
        {
            // Its notices come back in the figures: the summary goes into the report.
            MessageCapture kept;
            ok = SynchroniseAll(link_, settings, StopRequested, &figures) == 1;
        }
        const auto whole = [](const std::pair<std::string, std::string>& n) {
            return n.second.empty() ? n.first : n.first + "\n" + n.second;
        };
        // An interrupted synchronisation shows no summary; what it did is said instead.
        const std::string summary = whole(figures.summary);
        if (StopRequested())
            progress_ = Format("in pass %d after %d steps (%d failed)", static_cast<int>(figures.pass),
                               static_cast<int>(figures.steps), static_cast<int>(figures.errors));
        for (const auto& notice : figures.notices)
            if (notice != figures.summary) sink_.Show(whole(notice));
        const int result = ok ? kResultOk : figures.last_failure;
        report_.SetResult(result);
        report_.AddField("file", JsonString(file));
        report_.AddField("errors", std::to_string(figures.errors));
        for (const SyncFailure& failure : figures.failures) report_.AddStep(SyncFailureJson(failure));
        report_.AddField("summary", JsonString(summary));
        if (!figures.cause.empty()) report_.AddField("cause", JsonString(figures.cause));
        if (!report_.Json() && !summary.empty()) {
            if (ok && !o_.quiet) std::printf("%s\n", summary.c_str());
            if (!ok) std::fprintf(stderr, "%s%s\n", kPrefix, summary.c_str());
        }
        if (ok || PortFailed("sync") || StopRequested()) return;
        report_.Fail(kExitBox, Format("sync: result %d (%s)", result, LinkResultMeaning(result)));
    }

    // Logs off unless told to stay logged in (an interrupted run always logs off). A lost
    // reply to the logoff says nothing about the work done: a warning, as is any failed
    // logoff after a failure.
    void Logoff() {
        if (link_.State().link_connected != 1 || (o_.stay_logged_in && !StopRequested())) return;
        // A box that stopped answering would not hear it either, and an end asked for does not
        // wait for a box whose last transaction heard nothing.
        if (link_.BoxSilent() || (StopRequested() && link_.State().link_silent > 0))
            return report_.Warn(std::string("not logged off: ") + RS232c_bios::kSilentCause);
        if (link_.ConnectLink(0) == 1) return;
        const int result = link_.State().link_result;
        const std::string text = Format("logoff: result %d (%s)", result, LinkResultMeaning(result));
        if (result == kResultTimeout || report_.Failed()) return report_.Warn(text);
        if (!PortFailed("logoff")) report_.Fail(kExitBox, text);
    }

    void Ports() {
        // One shape for both kinds: "com" (COM1..COM8 and the device each means) and
        // "present" (a serial port the system has now).
        const auto entry = [](const char* kind, int com, const std::string& device, const std::string& state,
                              const platform::SerialPortEntry& e) {
            return Format("{\"kind\":\"%s\",\"com\":%s,\"device\":%s,\"state\":%s,\"description\":%s,"
                          "\"manufacturer\":%s,\"serial_number\":%s,\"by_id\":%s}",
                          kind, com ? std::to_string(com).c_str() : "null", JsonString(device).c_str(),
                          JsonString(state).c_str(), JsonString(e.description).c_str(),
                          JsonString(e.manufacturer).c_str(), JsonString(e.serial_number).c_str(),
                          JsonString(e.by_id).c_str());
        };
        std::vector<std::string> ports;
        for (int n = 1; n <= 8; ++n) {
            const std::string state = platform::DescribeComPort(n);
            if (report_.Json()) ports.push_back(entry("com", n, platform::ComDeviceName(n), state, {}));
            else std::printf("COM%d  %s\n", n, state.c_str());
        }
        const std::vector<platform::SerialPortEntry> present = platform::ListSerialPorts();
        if (!report_.Json()) std::printf("\nSerial ports present:%s\n", present.empty() ? " none" : "");
        for (const platform::SerialPortEntry& e : present) {
            if (report_.Json()) {
                ports.push_back(entry("present", 0, e.location, "", e));
                continue;
            }
            std::string line = e.location;
            for (const std::string* part : {&e.description, &e.manufacturer, &e.serial_number})
                if (!part->empty()) line += "  " + *part;
            if (!e.by_id.empty()) line += "\n    " + e.by_id;
            std::printf("%s\n", line.c_str());
        }
        if (report_.Json()) report_.AddField("ports", JsonArray(ports));
    }

    // The control API's token on standard output; --new replaces it first.
    void Token() {
        std::string why;
        std::string warning;
        const std::string token = o_.new_token ? api::MakeNewToken(&why) : api::LoadOrMakeToken(&why, &warning);
        if (token.empty()) return report_.Fail(kExitFile, why);
        if (!warning.empty()) std::fprintf(stderr, "%swarning: %s\n", kPrefix, warning.c_str());
        if (report_.Json()) {
            report_.AddField("token", JsonString(token));
            report_.AddField("token_file", JsonString(api::TokenFile()));
        } else {
            std::printf("%s\n", token.c_str());
        }
        // A service under the systemd unit has a token of its own, in its state folder.
        for (const std::string& instance : ServiceInstances(kServiceConfigFolder)) {
            const std::string file = ServiceTokenFile(instance);
            std::fprintf(stderr, "%snote: the service dpx20ctl-serve@%s has a token of its own: sudo cat %s\n", kPrefix,
                         instance.c_str(), file.c_str());
            if (report_.Json()) report_.AddField("service_token_file_" + instance, JsonString(file));
        }
    }

    static std::string Name(const Step& step) {
        return step.has_value ? step.command + (step.command.rfind("sys_", 0) == 0 ? "=" : " ") + std::to_string(step.value)
                              : step.command;
    }

    Options o_;
    Report& report_;
    RS232c_bios& link_;
    StderrSink sink_;
    MessageSink* previous_sink_ = SetMessageSink(&sink_);
    std::FILE* trace_file_ = nullptr;
    std::size_t steps_done_ = 0;
    std::string progress_;  // what the run had done when it was interrupted
    // The steps the box accepted and the link's transactions each used.
    struct Accepted {
        const Step* step;
        uint64_t first, last;
    };
    std::vector<Accepted> accepted_;
};

}  // namespace

std::vector<std::string> ServiceInstances(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.path().extension() == ".conf") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ServiceTokenFile(const std::string& instance) {
    return "/var/lib/dpx20remote/" + instance + "/.config/dpx20remote/api-token";
}

namespace {

// The HTTP statuses of the control API as dpx20ctl's exit codes. A request refused as busy
// (`result` "busy", 409 or 503) may be tried again: it exits as a port in use does; any other
// 409 is a refusal that stands.
int ExitOf(int status, const api::Json& answer) {
    if (status == 400 || status == 404 || status == 413 || status == 422) return kExitUsage;
    const api::Json* result = answer.Find("result");
    const bool busy = result && result->type() == api::Json::Type::kString && result->Text() == "busy";
    if (status == 409 && !busy) return kExitBox;
    return status >= 400 ? kExitPort : kExitOk;
}

// The boxes a service serves, for an operator: "cam1 (Camera 1, Rack A), cam2"; empty when
// the API at `url` lists none.
std::string ServedBoxes(const std::string& url) {
    const ApiAnswer answer = AskApi(url, "GET", "/boxes", {});
    std::string why;
    const std::optional<api::Json> json = answer.status == 200 ? api::ParseJson(answer.body, &why) : std::nullopt;
    const api::Json* boxes = json ? json->Find("boxes") : nullptr;
    std::string list;
    for (const api::Json& box : boxes ? boxes->Items() : std::vector<api::Json>{}) {
        const api::Json* name = box.Find("name");
        if (!name) continue;
        std::string about;
        for (const char* field : {"label", "location"})
            if (const api::Json* text = box.Find(field); text && !text->Text().empty())
                about += (about.empty() ? "" : ", ") + text->Text();
        list += (list.empty() ? "" : ", ") + name->Text() + (about.empty() ? "" : " (" + about + ")");
    }
    return list;
}

// set, sync and memory through the control API of a running panel or service.
void AskPanel(const Options& o, const Plan& plan, Report& report) {
    if (o.no_ack || o.virtual_mode || !o.trace.empty())
        throw UsageError("--no-ack, --virtual and --trace are the panel's own with --panel");
    StderrSink sink;
    MessageSink* previous_sink = SetMessageSink(&sink);
    struct Restore {
        MessageSink* sink;
        ~Restore() { SetMessageSink(sink); }
    } restore{previous_sink};
    std::string method = "POST", path;
    api::Json body = api::Json::Object();
    if (plan.command == "set") {
        method = "PUT";
        path = "/settings";
        // As given: the panel or service plans them against the box's settings it keeps.
        for (const auto& [setting, value] : plan.values) body.Set(setting->key, value);
    } else if (plan.command == "memory") {
        path = Format("/adjust-memory/%ld/%s", plan.steps[0].value, plan.steps[0].command.substr(7).c_str());
    } else if (plan.command == "sync") {
        // The file is read here: the API takes values, never a file name.
        SettingsRecord loaded;
        if (ReadSyncFile(plan.sync_file, stdin, loaded) != 1) return report.Fail(kExitFile, sink.shown, true);
        path = "/sync";
        for (const Setting& s : kSettings)
            if (!s.link_option) body.Set(s.key, loaded.*s.field);
        report.AddField("file", JsonString(plan.sync_file));
    } else {
        throw UsageError("--panel takes set, sync and memory, not " + plan.command);
    }
    if (!o.box.empty()) path = "/boxes/" + o.box + path;
    const ApiAnswer answer = AskApi(o.panel, method, path, plan.command == "memory" ? std::string() : body.Dump());
    if (!answer.error.empty()) return report.Fail(kExitPort, "cannot reach the control API at " + o.panel + ": " + answer.error);
    std::string why;
    const std::optional<api::Json> json = api::ParseJson(answer.body, &why);
    if (!json || !json->IsObject())
        return report.Fail(kExitPort, Format("the control API at %s answered %d without JSON", o.panel.c_str(), answer.status));
    if (const api::Json* result = json->Find("result"); result && result->IsInteger())
        report.SetResult(static_cast<int>(result->Integer()));
    if (const api::Json* steps = json->Find("steps")) {
        for (const api::Json& step : steps->Items()) {
            report.AddStep(step.Dump());
            const api::Json* failed = step.Find("result");
            if (report.Json() || o.quiet || !failed || failed->Integer() != kResultOk) continue;
            std::printf("%s=%lld: %s (%lld ms)\n", step.Find("command")->Text().c_str(),
                        static_cast<long long>(step.Find("value")->Integer()), step.Find("meaning")->Text().c_str(),
                        static_cast<long long>(step.Find("time_ms")->Integer()));
        }
    }
    if (const api::Json* summary = json->Find("summary"); summary && !summary->Text().empty()) {
        report.AddField("summary", JsonString(summary->Text()));
        if (!report.Json() && !o.quiet && answer.status == 200) std::printf("%s\n", summary->Text().c_str());
    }
    if (answer.status == 200 && !report.Json() && !o.quiet && plan.command == "memory")
        std::printf("%s: %s\n", plan.steps[0].command.c_str(), LinkResultMeaning(kResultOk));
    std::fflush(stdout);
    if (answer.status != 200) {
        const api::Json* error = json->Find("error");
        const std::string text = error && !error->Text().empty() ? error->Text() : Format("status %d", answer.status);
        // The operator reads the API's words for people; --json keeps its error for scripts.
        std::string said = text;
        if (const api::Json* plain = json->Find("operator_text"); plain && !plain->Text().empty()) said = plain->Text();
        if (answer.status == 404 && (o.box.empty() || text.rfind("no such box", 0) == 0))
            if (const std::string boxes = ServedBoxes(o.panel); !boxes.empty())
                said = (o.box.empty() ? "this service serves several boxes; name one with --box NAME: "
                                      : "no box " + o.box + " here; name one with --box NAME: ") + boxes;
        std::fprintf(stderr, "%s%s\n", kPrefix, said.c_str());
        if (said != text) report.AddField("operator_text", JsonString(said));
        report.Fail(ExitOf(answer.status, *json), text, true);
    }
}

// The session takes the folder's options file, where there is one that reads whole; nothing is
// rewritten. Else its record stays the default one, and the box's rules see only the values given.
bool ReadKnownSettings(Session& session, Report& report) {
    std::error_code ec;
    if (!std::filesystem::exists(options_file_name, ec)) return false;
    MessageCapture quiet;
    if (!session.ReadOptions()) {
        session.Record() = SettingsRecord{};
        report.Warn(Format("%s cannot be read (%s): the box's rules see only the values given", options_file_name,
                           quiet.texts.empty() ? "" : quiet.texts.front().c_str()));
        return false;
    }
    return true;
}

}  // namespace

int Run(int argc, char** argv, RS232c_bios& link) {
    Report report(JsonRequested(argc, argv));
    try {
        // service ...: its own arguments, the options of serve after "--".
        if (argc >= 2 && std::strcmp(argv[1], "service") == 0) {
            report.SetCommand("service");
            return ServiceAction(ParseServiceRequest({argv + 2, argv + argc}));
        }
        const Options options = ParseArguments(argc, argv);
        if (options.help) {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
        if (options.version) {
            std::printf("dpx20ctl %s\n", DPX20_VERSION);
            return kExitOk;
        }
        // A run of its own on the box is a session on the current folder: `set` plans against
        // what the folder's options file knows of the box. A running panel or service plans
        // against its own settings.
        std::error_code ec;
        Session session(link, std::filesystem::current_path(ec));
        const bool from_file = options.panel.empty() && !options.words.empty() && options.words[0] == "set" &&
                               ReadKnownSettings(session, report);
        const Plan plan = MakePlan(options.words, session.Record());
        report.SetCommand(plan.command);
        if (!options.panel.empty()) {
            AskPanel(options, plan, report);
            return report.Finish();
        }
        Command command(options, report, link);
        command.Execute(plan);
        if (from_file) command.KeepTaken(plan, session);
    } catch (const UsageError& e) {
        if (!e.command.empty()) report.SetCommand(e.command);
        report.Fail(kExitUsage, e.text);
        std::fputs("Try 'dpx20ctl --help'.\n", stderr);
    }
    return report.Finish();
}

}  // namespace dpx::cli
