#include "resources/LayoutKinds.h"

namespace dpx::res {

// The 2D-3D adjust, SDI-LR adjust and scope dialogs. Positions are dialog units; a group box encloses the controls
// inside its rectangle, and radios sharing a `group` number are exclusive.
using namespace kinds;

const Layout& Adjust2D3DLayout() {
    static const Layout layout{
        kLayoutAdjust2D3D, "ADJUST CONTROL", 330, 246, kLayoutFont, 9,
        {
            {kNoId, kGroup, "ADJUST MODE for 2D-3D Convert", 7, 7, 316, 212},
            {1010, kRadio, "OFF", 18, 20, 70, 10, kNone, 1},
            {1011, kRadio, "STANDARD", 18, 35, 80, 10, kNone, 1},
            {1012, kRadio, "ANAGRYPH MODE", 112, 35, 90, 10, kNone, 1},
            {1013, kRadio, "LR-SEQ. MODE", 216, 35, 90, 10, kNone, 1},

            {kNoId, kGroup, "PARALLAX", 14, 52, 302, 28},
            {1035, kBar, "", 22, 64, 246, 11},
            {1019, kEdit, "", 276, 63, 32, 13, kReadOnly},
            {kNoId, kGroup, "INTENSITY", 14, 82, 302, 28},
            {1021, kBar, "", 22, 94, 246, 11},
            {1022, kEdit, "", 276, 93, 32, 13, kReadOnly},
            {kNoId, kGroup, "SUB INT.", 14, 112, 302, 28},
            {1036, kBar, "", 22, 124, 246, 11},
            {1034, kEdit, "", 276, 123, 32, 13, kReadOnly},

            {kNoId, kGroup, "MEMORY ADJUST VALUE", 14, 144, 302, 70},
            {kNoId, kGroup, "SAVE", 20, 154, 290, 27},
            {1053, kButton, "1", 27, 164, 24, 13},
            {1054, kButton, "2", 55, 164, 24, 13},
            {1055, kButton, "3", 83, 164, 24, 13},
            {1056, kButton, "4", 111, 164, 24, 13},
            {1057, kButton, "5", 139, 164, 24, 13},
            {1058, kButton, "6", 167, 164, 24, 13},
            {1059, kButton, "7", 195, 164, 24, 13},
            {1060, kButton, "8", 223, 164, 24, 13},
            {1061, kButton, "9", 251, 164, 24, 13},
            {1062, kButton, "10", 279, 164, 24, 13},
            {kNoId, kGroup, "LOAD", 20, 183, 290, 27},
            {1063, kButton, "1", 27, 193, 24, 13},
            {1064, kButton, "2", 55, 193, 24, 13},
            {1065, kButton, "3", 83, 193, 24, 13},
            {1066, kButton, "4", 111, 193, 24, 13},
            {1067, kButton, "5", 139, 193, 24, 13},
            {1068, kButton, "6", 167, 193, 24, 13},
            {1069, kButton, "7", 195, 193, 24, 13},
            {1070, kButton, "8", 223, 193, 24, 13},
            {1071, kButton, "9", 251, 193, 24, 13},
            {1072, kButton, "10", 279, 193, 24, 13},

            {1, kButton, "EXIT with ADJUST", 105, 225, 100, 15, kDefaultButton},
            {2, kButton, "EXIT w/o ADJUST", 223, 225, 100, 15},
        }};
    return layout;
}

const Layout& AdjustSdiLrLayout() {
    static const Layout layout{
        kLayoutAdjustSdiLr, "ADJUST CONTROL", 330, 116, kLayoutFont, 9,
        {
            {kNoId, kGroup, "ADJUST MODE for SDI-LR Input", 7, 7, 316, 82},
            {1010, kRadio, "OFF", 18, 20, 70, 10, kNone, 1},
            {1011, kRadio, "SPLIT MODE", 18, 35, 80, 10, kNone, 1},
            {1012, kRadio, "ANAGRYPH MODE", 112, 35, 90, 10, kNone, 1},
            {1013, kRadio, "LR-SEQ. MODE", 216, 35, 90, 10, kNone, 1},

            {kNoId, kGroup, "SPLIT POSITION", 14, 52, 302, 30},
            {1020, kBar, "", 22, 65, 246, 11},
            {1019, kEdit, "", 276, 64, 32, 13, kReadOnly},

            {1, kButton, "EXIT with ADJUST", 105, 95, 100, 15, kDefaultButton},
            {2, kButton, "EXIT w/o ADJUST", 223, 95, 100, 15},
        }};
    return layout;
}

const Layout& ScopeLayout() {
    static const Layout layout{
        kLayoutScope, "SCOPE CONTROL", 300, 224, kLayoutFont, 9,
        {
            {kNoId, kGroup, "SCOPE MODE", 7, 7, 140, 62},
            {1040, kRadio, "OFF", 16, 19, 120, 10, kNone, 1},
            {1041, kRadio, "W. F. M.", 16, 31, 120, 10, kNone, 1},
            {1042, kRadio, "VECTOR SCOPE", 16, 43, 120, 10, kNone, 1},

            {kNoId, kGroup, "SCOPE SIGNAL", 153, 7, 140, 62},
            {1043, kRadio, "PARALLEL", 162, 19, 120, 10, kNone, 2},
            {1044, kRadio, "BALANCE", 162, 31, 120, 10, kNone, 2},
            {1045, kRadio, "IN1", 162, 43, 120, 10, kNone, 2},
            {1046, kRadio, "IN2", 162, 55, 120, 10, kNone, 2},

            {kNoId, kGroup, "SCOPE POSITION", 7, 73, 186, 40},
            {1019, kRadio, "LEFT UPPER", 16, 85, 82, 10, kNone, 3},
            {1020, kRadio, "RIGHT UPPER", 102, 85, 86, 10, kNone, 3},
            {1018, kRadio, "LEFT LOWER", 16, 98, 82, 10, kNone, 3},
            {1017, kRadio, "RIGHT LOWER", 102, 98, 86, 10, kNone, 3},

            {kNoId, kGroup, "SCOPE FILTER", 199, 73, 94, 40},
            {1021, kRadio, "FLAT", 208, 85, 80, 10, kNone, 4},
            {1022, kRadio, "LOW PASS", 208, 98, 80, 10, kNone, 4},

            {kNoId, kGroup, "SCOPE GAIN", 7, 117, 286, 78},
            {kNoId, kGroup, "W.F.M. GAIN", 14, 128, 272, 29},
            {1027, kBar, "", 22, 141, 218, 11},
            {1028, kEdit, "", 246, 140, 32, 13, kReadOnly},
            {kNoId, kGroup, "VECTOR SCOPE GAIN", 14, 160, 272, 29},
            {1031, kBar, "", 22, 173, 218, 11},
            {1032, kEdit, "", 246, 172, 32, 13, kReadOnly},

            {1, kButton, "EXIT with SCOPE", 87, 203, 96, 15, kDefaultButton},
            {2, kButton, "EXIT w/o SCOPE", 197, 203, 96, 15},
        }};
    return layout;
}

}  // namespace dpx::res
