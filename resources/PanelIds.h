#pragma once
// Control ids of the main control panel layout, as its resources define them.
#include "resources/Layout.h"

namespace dpx::res::panel {

enum Id : int {
    kExit = kIdOk,
    kFunction = 1000,
    kAdjustMode = 1001,
    kScope = 1002,
    kInputSelect = 1003,
    kOutputPreset = 1004,
    kConversion = 1007,  // the "2D-3D" box
    kConnect = 1008,
    kNoAck = 1028,
    kVirtualMode = 1029,
    kVersionInfo = 1030,
    kDebugBox = 1031,
    kCornerPicture = 1038,
    kDebugField = 1039,
    kSyncOn = 1051,
    kComPort1 = 1052,  // the COM port radios, 1 to 8 in a row
    kComPort2 = 1053,
    kComPort3 = 1054,
    kComPort4 = 1055,
    kComPort5 = 1056,
    kComPort6 = 1057,
    kComPort7 = 1058,
    kComPort8 = 1059,
    kSave1 = 1060,
    kSave2 = 1061,
    kSave3 = 1062,
    kSave4 = 1063,
    kSave5 = 1064,
    kSave6 = 1080,
    kLogo = 1065,
    kLoad1 = 1070,
    kLoad2 = 1071,
    kLoad3 = 1072,
    kLoad4 = 1073,
    kLoad5 = 1074,
    kLoad6 = 1081,
};

}  // namespace dpx::res::panel
