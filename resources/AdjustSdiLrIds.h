#pragma once
// Control ids of the SDI-LR adjust dialog layout, as its resources define them.
#include "resources/Layout.h"

namespace dpx::res::adjust_sdilr {

enum Id : int {
    kOff = 1010,
    kSplitMode = 1011,
    kAnaglyph = 1012,
    kLrSequential = 1013,
    kSplitField = 1019,
    kSplitBar = 1020,
    kExitWithAdjust = kIdOk,
    kExitWithoutAdjust = kIdCancel,
};

}  // namespace dpx::res::adjust_sdilr
