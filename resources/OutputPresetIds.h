#pragma once
// Control ids of the output preset dialog layout, as its resources define them.
#include "resources/Layout.h"

namespace dpx::res::output_preset {

enum Id : int {
    kSdiMix = 1023,
    kHdmiMix = 1024,
    kSdiIndividual = 1025,
    kHdmiIndividual = 1026,
    kLineByLine = 1027,
    kSideBySide = 1028,
    kAboveBelow = 1029,
    kCheckerBoard = 1030,
    kExit = kIdOk,
    kCancel = kIdCancel,
};

}  // namespace dpx::res::output_preset
