#pragma once
// Pushes every setting of a settings record to the box in one fixed order, the steps of the
// settings table. Free of Qt: it uses only the link's device operations, the record and
// MessageSink, so tools other than the panel can run it.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "link/RS232c_bios.h"
#include "model/SettingTable.h"
#include "model/SettingsRecord.h"

namespace dpx {

// A step that failed (its device operation failed twice), in the pass it failed in.
struct SyncFailure {
    int32_t pass;            // 1 to 3
    const Setting* setting;  // its setting; the value command is setting->command
    int32_t value;
    int32_t result;          // the link result of its last try
    uint32_t time_ms;        // both tries
};
// A failed step as a JSON object in the shape of a step of dpx20ctl set and PUT /settings
// ("command": the setting's key, "value", "result", "meaning", "time_ms"), with the command
// "word" and the "pass": one shape for every tool that reports a synchronisation.
std::string SyncFailureJson(const SyncFailure& failure);

// What a synchronisation did, handed back to whoever ran it.
struct SyncFigures {
    int32_t errors = 0;        // failed steps of the latest pass
    int32_t last_failure = 0;  // the link result of the latest failed step (kResultOk: none)
    int32_t steps = 0;         // steps the latest pass tried
    int32_t pass = 0;          // the pass SynchroniseAll is in (1 to 3)
    std::vector<SyncFailure> failures;  // the failed steps, pass by pass
    // Whether SynchroniseAll gave up because the box stopped answering (BoxSilent), and how
    // many steps of its last pass were then not sent.
    bool silent = false;
    int32_t not_sent = 0;
    // Why SynchroniseAll ended before its passes were done: RS232c_bios::kSilentCause, or the
    // link's failure when the session ended during it ("/dev/ttyUSB0: device gone ...");
    // empty when it was not cut short.
    std::string cause;
    // The notices it showed, in order, each as (text, detail): the adjust-only limitation of
    // a pass, and SynchroniseAll's summary last. `summary` is that summary as (text, detail),
    // empty when it showed none (stopped).
    std::vector<std::pair<std::string, std::string>> notices;
    std::pair<std::string, std::string> summary;
};

// `stop`, where given, is asked before each step: once it returns true, a pass tries no
// further step (the one in progress ends first) and SynchroniseAll starts no further pass and
// shows no summary. `figures`, where given, receives what the run did.

// One pass of `settings` over `link`: 1 if no step failed, else 0. A step counts as done only
// when its reply was read in step: after the steps, replies given up during the pass are
// waited for (RS232c_bios::SettleReplies), and a step whose transactions the link doubts
// fails with kResultOutOfStep. In virtual mode
// (vertual_mode) 1 at once. Debug reports are off during the pass and set to debug_mode
// after it. Shows nothing except the adjust-only limitation message.
int SyncRun(RS232c_bios& link, const SettingsRecord& settings, const std::function<bool()>& stop = {},
            SyncFigures* figures = nullptr);

// Up to three passes until one is clean; shows one summary message with the time of each
// pass. 1 if a pass was clean, else 0. A box that falls silent ends it at once: the summary
// then gives the cause and the steps not sent as its detail.
int SynchroniseAll(RS232c_bios& link, const SettingsRecord& settings, const std::function<bool()>& stop = {},
                   SyncFigures* figures = nullptr);

}  // namespace dpx
