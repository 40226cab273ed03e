#include "sync/Synchronise.h"

#include <iterator>
#include <string>

#include "common/Format.h"
#include "common/MessageSink.h"
#include "common/TickSource.h"
#include "model/SettingTable.h"

namespace dpx {

thread_local int32_t sync_error_count = 0;
thread_local int32_t sync_last_failure = 0;
thread_local int32_t sync_step_count = 0;
thread_local int32_t sync_pass = 0;
thread_local std::vector<SyncFailure> sync_failures;
bool (*sync_stop)() = nullptr;
thread_local bool sync_silent = false;
thread_local int32_t sync_not_sent = 0;
thread_local std::string sync_cause;

namespace {

constexpr int kStepAttempts = 2;
constexpr const char* kPassNames[] = {"1st", "2nd", "3rd"};  // one pass each, at most

// The stop of the run in progress, besides sync_stop.
thread_local const std::function<bool()>* run_stop = nullptr;
// Whether the link was logged in when the synchronisation began: a session that ends during
// it (the device gone) ends the synchronisation too.
thread_local bool began_connected = false;

// A step the box accepted, with the transactions its device operation used.
struct Accepted {
    const SyncItem* item;
    uint64_t first, last;
    uint32_t time_ms;
};
thread_local std::vector<Accepted> accepted;

// Why no further step can reach the box, or nullptr: it stopped answering, or the session
// ended (the device or the connection to its server went away).
const char* EndedCause(const RS232c_bios& link) {
    if (link.BoxSilent()) return RS232c_bios::kSilentCause;
    if (began_connected && link.State().link_connected != 1) return "the session ended";
    return nullptr;
}

void CountFailure(const SyncItem& item, int32_t result, uint32_t time_ms) {
    ++sync_error_count;
    sync_last_failure = result;
    sync_failures.push_back({sync_pass, item.setting, item.value, result, time_ms});
}

bool Stopping() { return (sync_stop && sync_stop()) || (run_stop && *run_stop && (*run_stop)()); }

// Puts `stop` in force for one run and the previous one back after it.
class StopScope {
public:
    explicit StopScope(const std::function<bool()>& stop) : previous_(run_stop) { run_stop = &stop; }
    ~StopScope() { run_stop = previous_; }
    StopScope(const StopScope&) = delete;
    StopScope& operator=(const StopScope&) = delete;

private:
    const std::function<bool()>* previous_;
};

// One step: the device operation is tried twice before the step counts as failed.
void Step(RS232c_bios& link, const SyncItem& item) {
    if (Stopping()) return;
    if (EndedCause(link)) {
        ++sync_not_sent;
        return;
    }
    ++sync_step_count;
    const uint32_t start = Ticks().Now();
    for (int attempt = 1; attempt <= kStepAttempts; ++attempt) {
        if (attempt > 1 && (Stopping() || EndedCause(link))) break;
        const uint64_t first = link.Transactions() + 1;
        if (link.SetValue(item.setting->command, item.value)) {
            accepted.push_back({&item, first, link.Transactions(), TicksBetween(start, Ticks().Now())});
            return;
        }
    }
    CountFailure(item, link.State().link_result, TicksBetween(start, Ticks().Now()));
}

// A pass counts only the steps whose replies were their own: once its steps are sent, the
// replies given up during it are waited for (SettleReplies), and every accepted step whose
// transactions the link then doubts is a failed step, out of step, wherever the misread
// was found.
void CheckAccepted(RS232c_bios& link) {
    // A synchronisation being stopped does not wait: what it did is not reported as done anyway.
    if (!EndedCause(link) && !Stopping()) link.SettleReplies();
    for (const Accepted& step : accepted)
        if (link.RepliesDoubted(step.first, step.last)) CountFailure(*step.item, kResultOutOfStep, step.time_ms);
    accepted.clear();
}

}  // namespace

std::string SyncFailureJson(const SyncFailure& f) {
    return Format("{\"command\":%s,\"value\":%d,\"result\":%d,\"meaning\":%s,\"time_ms\":%u,\"word\":%s,\"pass\":%d}",
                  JsonString(f.setting->key).c_str(), static_cast<int>(f.value), static_cast<int>(f.result),
                  JsonString(LinkResultMeaning(f.result)).c_str(), f.time_ms,
                  JsonString(CommandTable[f.setting->command].word).c_str(), static_cast<int>(f.pass));
}

int SyncRun(RS232c_bios& link, const SettingsRecord& settings, const std::function<bool()>& stop) {
    StopScope scope(stop);
    if (settings.vertual_mode != 0) return 1;
    link.SetDebugMode(0);
    sync_error_count = 0;
    sync_last_failure = 0;
    sync_step_count = 0;
    sync_not_sent = 0;
    if (settings.load_adj_only != 0 && settings.sys_2D3D == 0) {
        ShowMessage(
            "Update only for 2D-3D Adjust value : error!\n\nNow 2D-3D conversion is OFF.\n"
            "This is a limitation.\nThe adjust value commands are only valid with 2D-3D on.");
        link.SetDebugMode(settings.debug_mode);
        return 0;
    }
    accepted.clear();
    began_connected = link.State().link_connected == 1;
    const std::vector<SyncItem> steps = PassSteps(settings);
    for (const SyncItem& item : steps) Step(link, item);
    CheckAccepted(link);
    link.SetDebugMode(settings.debug_mode);
    return sync_error_count == 0 ? 1 : 0;
}

int SynchroniseAll(RS232c_bios& link, const SettingsRecord& settings, const std::function<bool()>& stop) {
    StopScope scope(stop);
    TickSource& ticks = Ticks();
    // The lines of the passes accumulate; a clean first pass has a message of its own.
    std::string message = "Update ZR-DPX20 all settings : error found!\n\n";
    sync_failures.clear();
    const char* const kGiveUp = "\nGive up! Maybe better to restart this program.";
    sync_silent = false;
    sync_cause.clear();
    link.ForgetSilence();
    for (int pass = 1; pass <= static_cast<int>(std::size(kPassNames)); ++pass) {
        sync_pass = pass;
        const uint32_t start = ticks.Now();
        const int r = SyncRun(link, settings, stop);
        const uint32_t ms = TicksBetween(start, ticks.Now());
        if (Stopping()) return 0;
        const char* name = kPassNames[pass - 1];
        if (r == 1) {
            ShowMessage(pass == 1 ? Format("Update ZR-DPX20 all settings : Compleate!\nProcess time = %u mS.", ms)
                                  : message + Format("%s try : process OK.      process time = %u mS.\n", name, ms));
            return 1;
        }
        message += Format("%s try : error = %d times. process time = %u mS.\n", name, sync_error_count, ms);
        if (const char* ended = EndedCause(link)) {
            // Further passes would only wait on the silence again, or find no session.
            const int steps = static_cast<int>(sync_step_count + sync_not_sent);
            std::string detail;
            if (link.BoxSilent()) {
                sync_silent = true;
                sync_cause = ended;
                detail = Format("%s: %d commands in a row got no reply", ended, static_cast<int>(RS232c_bios::kSilentLimit));
            } else {
                const std::string& failure = link.State().link_failure;
                sync_cause = failure.empty() ? std::string(ended) : failure;
                detail = std::string(ended) + ": " + sync_cause;
            }
            ShowMessage(message + kGiveUp, Format("%s; %d of %d steps of the %s try were not sent.", detail.c_str(),
                                                  static_cast<int>(sync_not_sent), steps, name));
            return 0;
        }
    }
    ShowMessage(message + kGiveUp);
    return 0;
}

}  // namespace dpx
