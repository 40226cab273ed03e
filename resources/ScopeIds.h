#pragma once
// Control ids of the scope dialog layout, as its resources define them.
#include "resources/Layout.h"

namespace dpx::res::scope {

enum Id : int {
    kRightLower = 1017,
    kLeftLower = 1018,
    kLeftUpper = 1019,
    kRightUpper = 1020,
    kFlat = 1021,
    kLowPass = 1022,
    kWfmBar = 1027,
    kWfmField = 1028,
    kVectorBar = 1031,
    kVectorField = 1032,
    kModeOff = 1040,
    kWfm = 1041,
    kVectorScope = 1042,
    kParallel = 1043,
    kBalance = 1044,
    kIn1 = 1045,
    kIn2 = 1046,
    kExitWithScope = kIdOk,
    kExitWithoutScope = kIdCancel,
};

}  // namespace dpx::res::scope
