#pragma once
// A change of settings on one box, planned by the box's rules (BoxRules) and carried out on its
// link and settings record. The panel, the control API and dpx20ctl change settings this way,
// so each sends the same frames and refuses the same changes. Qt-free; shows nothing.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/RS232c_bios.h"
#include "model/SettingTable.h"
#include "session/BoxRules.h"
#include "model/SettingsRecord.h"

namespace dpx {

using SettingValues = std::vector<std::pair<const Setting*, int32_t>>;

// One command sent for a change.
struct ChangeStep {
    const Setting* setting;
    int32_t value;
    int result;    // the link result
    long time_ms;
};

struct ChangeResult {
    bool ok = true;
    // A rule refused the change as a whole: nothing was sent and nothing changed. `error`
    // holds the rule's text.
    bool refused = false;
    // Why it failed: the rule's text, or the text a rule gives for the send that failed
    // (turning adjust off first); empty when the failed send is the requested setting's own,
    // whose text is the caller's (`failed`).
    std::string error;
    std::optional<ChangeStep> failed;  // the send that failed
    std::vector<ChangeStep> steps;     // every send, in order
    bool changed = false;              // the record took at least one new value
};

// Plans every value against `record`, one after another, and refuses the whole change if any is
// refused. Otherwise sends each plan's commands through `link` in order, and stops at the first
// that fails; every send that went through, and then a plan's kept values, go into `record`.
// With `send` false nothing is sent (a panel that is not connected only keeps the values).
ChangeResult ApplyChange(RS232c_bios& link, SettingsRecord& record, const SettingValues& values, bool send = true);

// The plans of `values` one after another against `record`, and the first refusal if any.
std::vector<rules::Plan> PlanValues(SettingsRecord record, const SettingValues& values, std::string* refusal);

}  // namespace dpx
