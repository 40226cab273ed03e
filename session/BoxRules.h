#pragma once
// The box's rules between settings: which changes are refused, which other commands a change
// needs first, and which settings follow it without a command. The panel, the control API and
// dpx20ctl all plan a change here, so a change sends the same frames and is refused with the
// same text whichever way it came. Qt-free.
#include <cstdint>
#include <string>
#include <vector>

#include "model/SettingTable.h"
#include "model/SettingsRecord.h"

namespace dpx::rules {

// What the panel tells when a change breaks a rule.
inline constexpr char kSdiLrForbidsConversion[] = "Cannot Change!\nInput is SDI-LR now, 2D3D conversion is not valid.";
inline constexpr char kFormatForbidsIndividual[] =
    "Cannot Change!\n3D FORMAT is ABOVE-BELOW now, INDIVUSUAL output is not valid.";
inline constexpr char kIndividualForbidsFormat[] =
    "Cannot Change!\nSome Output is INDIVUSUAL now, ABOVE-BELOW is not valid.";
inline constexpr char kScopeOnlyAtSdiLr[] = "SCOPE function is only valid at the SDI-LR input.";
inline constexpr char kAdjustNeedsConversion[] = "Cannot Adjust!\nPlease turn on 2D3D conversion first.";
// The panel has no text of its own here: it offers the SDI-LR adjust only at that input.
inline constexpr char kSdiLrAdjustOnlyAtSdiLr[] = "Cannot Adjust!\nThe SDI-LR adjust is only valid at the SDI-LR input.";
inline constexpr char kTurnOffAdjustFailed[] = "Turn off Adjust : RS232C error!";
inline constexpr char kTurnOffScopeFailed[] = "Turn off Scope : RS232C error!";

// The values the rules speak of.
inline constexpr int32_t kInputSdiLr = 0;     // sys_input_select
inline constexpr int32_t kOutputMix = 0;      // sys_sdi_mix, sys_hdmi_mix
inline constexpr int32_t kOutputIndividual = 1;
inline constexpr int32_t kFormatAboveBelow = 2;  // sys_3dfmt

bool IsSdiLr(const SettingsRecord& r);

// One setting sent to the box: its device operation with `value`. On success the record takes
// the value; on failure the change stops there and `failure` is what the panel tells.
struct Send {
    const Setting* setting;
    int32_t value;
    const char* failure = nullptr;  // a rule's own text, else the caller's for the setting
};

// The plan of one change of one setting.
struct Plan {
    std::string refusal;       // not empty: refused as it stands; nothing is sent or kept
    std::vector<Send> sends;   // in order
    // Settings that take a value without a command once every send went through.
    std::vector<std::pair<const Setting*, int32_t>> keeps;
};

// The plan of setting `setting` to `value` against the settings in force `r`. A tool that
// does not know the box's settings plans against a default SettingsRecord, on which no rule
// refuses or adds a command until the values given before say so.
Plan PlanChange(const SettingsRecord& r, const Setting& setting, int32_t value);

// The settings a box given the values of `r` by a full synchronisation holds by itself, which
// no pass sends: no 2D-3D at the SDI-LR input, neither the scope nor the SDI-LR adjust at
// another input, no scope under the SDI-LR adjust, no 2D-3D adjust without the conversion.
// Nothing changes for an adjust-only synchronisation (load_adj_only), which sends no input.
void Settle(SettingsRecord& r);

// Applies a plan's sends and keeps to a record as if every send went through (for planning a
// change of several settings one after another).
void Apply(const Plan& plan, SettingsRecord& r);

}  // namespace dpx::rules
