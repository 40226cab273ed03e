#pragma once
// Control ids of the input select dialog layout, as its resources define them.
#include "resources/Layout.h"

namespace dpx::res::input_select {

enum Id : int {
    kSdi1 = 1010,
    kSdi2 = 1011,
    kHdmi = 1012,
    kSdiLr = 1013,
    kNormal = 1014,
    kInvert = 1015,
    kExit = kIdOk,
    kCancel = kIdCancel,
};

}  // namespace dpx::res::input_select
