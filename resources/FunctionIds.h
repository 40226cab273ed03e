#pragma once
// Control ids of the function dialog layout, as its resources define them.
#include "resources/Layout.h"

namespace dpx::res::function {

enum Id : int {
    kMemory1Save = 1000,
    kMemory1Load = 1001,
    kMemory2Save = 1002,
    kMemory2Load = 1003,
    kRotateOff = 1010,
    kRotateSdi1 = 1011,
    kRotateSdi2 = 1012,
    kFrameSyncOff = 1013,
    kFrameSyncOn = 1014,
    kBeepOff = 1015,
    kBeepOn = 1016,
    kHMirrorSdi1 = 1017,  // the hidden mirror radios
    kBackLightBar = 1018,
    kBackLightField = 1019,
    kHMirrorSdi2 = 1020,
    kVMirrorSdi1 = 1021,
    kVMirrorSdi2 = 1022,
    kExit = kIdOk,
    kCancel = kIdCancel,
};

}  // namespace dpx::res::function
