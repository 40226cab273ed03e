#pragma once
// Control ids of the 2D-3D adjust dialog layout, as its resources define them.
#include "resources/Layout.h"

namespace dpx::res::adjust2d3d {

enum Id : int {
    kOff = 1010,
    kStandard = 1011,
    kAnaglyph = 1012,
    kLrSequential = 1013,
    kParallaxField = 1019,
    kIntensityBar = 1021,
    kIntensityField = 1022,
    kSubIntensityField = 1034,
    kParallaxBar = 1035,
    kSubIntensityBar = 1036,
    kSave1 = 1053,  // the memory SAVE buttons 1 to 10 in a row
    kSave2 = 1054,
    kSave3 = 1055,
    kSave4 = 1056,
    kSave5 = 1057,
    kSave6 = 1058,
    kSave7 = 1059,
    kSave8 = 1060,
    kSave9 = 1061,
    kSave10 = 1062,
    kLoad1 = 1063,  // the memory LOAD buttons 1 to 10 in a row
    kLoad2 = 1064,
    kLoad3 = 1065,
    kLoad4 = 1066,
    kLoad5 = 1067,
    kLoad6 = 1068,
    kLoad7 = 1069,
    kLoad8 = 1070,
    kLoad9 = 1071,
    kLoad10 = 1072,
    kExitWithAdjust = kIdOk,
    kExitWithoutAdjust = kIdCancel,
};

}  // namespace dpx::res::adjust2d3d
