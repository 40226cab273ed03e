#include "sync/Synchronise.h"

#include <iterator>
#include <string>

#include "common/Format.h"
#include "common/MessageSink.h"
#include "common/TickSource.h"
#include "model/SettingTable.h"

namespace dpx {

namespace {

constexpr int kStepAttempts = 2;
constexpr const char* kPassNames[] = {"1st", "2nd", "3rd"};  // one pass each, at most

// A step the box accepted, with the transactions its device operation used.
struct Accepted {
    const SyncItem* item;
    uint64_t first, last;
    uint32_t time_ms;
};

// One pass in progress: its link, its stop, its figures and the steps the box accepted.
struct Pass {
    RS232c_bios& link;
    const std::function<bool()>& stop;
    SyncFigures& figures;
    // Whether the link was logged in when the pass began: a session that ends during it (the
    // device gone) ends the synchronisation too.
    bool began_connected = false;
    std::vector<Accepted> accepted;
};

// Why no further step can reach the box, or nullptr: it stopped answering, or the session
// ended (the device or the connection to its server went away).
const char* EndedCause(const RS232c_bios& link, bool began_connected) {
    if (link.BoxSilent()) return RS232c_bios::kSilentCause;
    if (began_connected && link.State().link_connected != 1) return "the session ended";
    return nullptr;
}

void CountFailure(Pass& p, const SyncItem& item, int32_t result, uint32_t time_ms) {
    ++p.figures.errors;
    p.figures.last_failure = result;
    p.figures.failures.push_back({p.figures.pass, item.setting, item.value, result, time_ms});
}

bool Stopping(const std::function<bool()>& stop) { return stop && stop(); }

// One step: the device operation is tried twice before the step counts as failed.
void Step(Pass& p, const SyncItem& item) {
    if (Stopping(p.stop)) return;
    if (EndedCause(p.link, p.began_connected)) {
        ++p.figures.not_sent;
        return;
    }
    ++p.figures.steps;
    const uint32_t start = Ticks().Now();
    for (int attempt = 1; attempt <= kStepAttempts; ++attempt) {
        if (attempt > 1 && (Stopping(p.stop) || EndedCause(p.link, p.began_connected))) break;
        const uint64_t first = p.link.Transactions() + 1;
        if (p.link.SetValue(item.setting->command, item.value)) {
            p.accepted.push_back({&item, first, p.link.Transactions(), TicksBetween(start, Ticks().Now())});
            return;
        }
    }
    CountFailure(p, item, p.link.State().link_result, TicksBetween(start, Ticks().Now()));
}

// A pass counts only the steps whose replies were their own: once its steps are sent, the
// replies given up during it are waited for (SettleReplies), and every accepted step whose
// transactions the link then doubts is a failed step, out of step, wherever the misread
// was found.
void CheckAccepted(Pass& p) {
    // A synchronisation being stopped does not wait: what it did is not reported as done anyway.
    if (!EndedCause(p.link, p.began_connected) && !Stopping(p.stop)) p.link.SettleReplies();
    for (const Accepted& step : p.accepted)
        if (p.link.RepliesDoubted(step.first, step.last)) CountFailure(p, *step.item, kResultOutOfStep, step.time_ms);
    p.accepted.clear();
}

}  // namespace

std::string SyncFailureJson(const SyncFailure& f) {
    return Format("{\"command\":%s,\"value\":%d,\"result\":%d,\"meaning\":%s,\"time_ms\":%u,\"word\":%s,\"pass\":%d}",
                  JsonString(f.setting->key).c_str(), static_cast<int>(f.value), static_cast<int>(f.result),
                  JsonString(LinkResultMeaning(f.result)).c_str(), f.time_ms,
                  JsonString(CommandTable[f.setting->command].word).c_str(), static_cast<int>(f.pass));
}

namespace {

// Shows a notice and keeps it in the figures; the summary ends the run.
void Notice(SyncFigures& f, const std::string& text, const std::string& detail = {}, bool summary = false) {
    f.notices.emplace_back(text, detail);
    if (summary) f.summary = f.notices.back();
    ShowMessage(text, detail);
}

}  // namespace

int SyncRun(RS232c_bios& link, const SettingsRecord& settings, const std::function<bool()>& stop, SyncFigures* figures) {
    SyncFigures own;
    SyncFigures& f = figures ? *figures : own;
    if (settings.vertual_mode != 0) return 1;
    link.SetDebugMode(0);
    f.errors = 0;
    f.last_failure = 0;
    f.steps = 0;
    f.not_sent = 0;
    if (settings.load_adj_only != 0 && settings.sys_2D3D == 0) {
        Notice(f, "Update only for 2D-3D Adjust value : error!\n\nNow 2D-3D conversion is OFF.\n"
                  "This is a limitation.\nThe adjust value commands are only valid with 2D-3D on.");
        link.SetDebugMode(settings.debug_mode);
        return 0;
    }
    Pass p{link, stop, f, link.State().link_connected == 1, {}};
    const std::vector<SyncItem> steps = PassSteps(settings);
    for (const SyncItem& item : steps) Step(p, item);
    CheckAccepted(p);
    link.SetDebugMode(settings.debug_mode);
    return f.errors == 0 ? 1 : 0;
}

int SynchroniseAll(RS232c_bios& link, const SettingsRecord& settings, const std::function<bool()>& stop,
                   SyncFigures* figures) {
    SyncFigures own;
    SyncFigures& f = figures ? *figures : own;
    TickSource& ticks = Ticks();
    // The lines of the passes accumulate; a clean first pass has a message of its own.
    std::string message = "Update ZR-DPX20 all settings : error found!\n\n";
    f.failures.clear();
    f.notices.clear();
    f.summary = {};
    const char* const kGiveUp = "\nGive up! Maybe better to restart this program.";
    f.silent = false;
    f.cause.clear();
    link.ForgetSilence();
    const bool began_connected = link.State().link_connected == 1;
    for (int pass = 1; pass <= static_cast<int>(std::size(kPassNames)); ++pass) {
        f.pass = pass;
        const uint32_t start = ticks.Now();
        const int r = SyncRun(link, settings, stop, &f);
        const uint32_t ms = TicksBetween(start, ticks.Now());
        if (Stopping(stop)) return 0;
        const char* name = kPassNames[pass - 1];
        if (r == 1) {
            Notice(f,
                   pass == 1 ? Format("Update ZR-DPX20 all settings : Compleate!\nProcess time = %u mS.", ms)
                             : message + Format("%s try : process OK.      process time = %u mS.\n", name, ms),
                   {}, true);
            return 1;
        }
        message += Format("%s try : error = %d times. process time = %u mS.\n", name, f.errors, ms);
        if (const char* ended = EndedCause(link, began_connected)) {
            // Further passes would only wait on the silence again, or find no session.
            const int steps = static_cast<int>(f.steps + f.not_sent);
            std::string detail;
            if (link.BoxSilent()) {
                f.silent = true;
                f.cause = ended;
                detail = Format("%s: %d commands in a row got no reply", ended, static_cast<int>(RS232c_bios::kSilentLimit));
            } else {
                const std::string& failure = link.State().link_failure;
                f.cause = failure.empty() ? std::string(ended) : failure;
                detail = std::string(ended) + ": " + f.cause;
            }
            Notice(f, message + kGiveUp,
                   Format("%s; %d of %d steps of the %s try were not sent.", detail.c_str(), static_cast<int>(f.not_sent),
                          steps, name),
                   true);
            return 0;
        }
    }
    Notice(f, message + kGiveUp, {}, true);
    return 0;
}

}  // namespace dpx
