#pragma once
// Box states in which the box's rules let a group of settings through, for tests that send
// them: the rules refuse the scope away from the SDI-LR input and the 2D-3D adjust without
// the conversion, and only keep the adjust values while the adjust view is off.
#include "model/SettingsRecord.h"
#include "session/BoxRules.h"

namespace dpx::test {

// The scope and the SDI-LR adjust: the SDI-LR input.
inline SettingsRecord AtSdiLr() {
    SettingsRecord r;
    r.sys_input_select = rules::kInputSdiLr;
    return r;
}

// The 2D-3D adjust: the conversion on at another input; with `view`, its adjust view on too
// (STANDARD), so that the adjust values reach the box.
inline SettingsRecord Converting(bool view = true) {
    SettingsRecord r;
    r.sys_2D3D = 1;
    if (view) r.sys_adj3d_mode = 4;
    return r;
}

}  // namespace dpx::test
