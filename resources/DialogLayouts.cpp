#include "resources/Layout.h"

namespace dpx::res {

// The six control dialogs. Positions are dialog units; a group box encloses the controls
// inside its rectangle, and radios sharing a `group` number are exclusive.
namespace {

constexpr Kind kRadio = Kind::RadioButton;
constexpr Kind kButton = Kind::PushButton;
constexpr Kind kGroup = Kind::GroupBox;
constexpr Kind kBar = Kind::HScrollBar;
constexpr Kind kEdit = Kind::EditField;

}  // namespace

const Layout& Adjust2D3DLayout() {
    static const Layout layout{
        kLayoutAdjust2D3D, "ADJUST CONTROL", 330, 238, kLayoutFont, 9,
        {
            {kNoId, kGroup, "ADJUST MODE for 2D-3D Convert", 7, 7, 316, 204},
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

            {kNoId, kGroup, "MEMORY ADJUST VALUE", 14, 144, 302, 62},
            {kNoId, kGroup, "SAVE", 20, 154, 290, 25},
            {1053, kButton, "1", 27, 163, 24, 13},
            {1054, kButton, "2", 55, 163, 24, 13},
            {1055, kButton, "3", 83, 163, 24, 13},
            {1056, kButton, "4", 111, 163, 24, 13},
            {1057, kButton, "5", 139, 163, 24, 13},
            {1058, kButton, "6", 167, 163, 24, 13},
            {1059, kButton, "7", 195, 163, 24, 13},
            {1060, kButton, "8", 223, 163, 24, 13},
            {1061, kButton, "9", 251, 163, 24, 13},
            {1062, kButton, "10", 279, 163, 24, 13},
            {kNoId, kGroup, "LOAD", 20, 180, 290, 25},
            {1063, kButton, "1", 27, 189, 24, 13},
            {1064, kButton, "2", 55, 189, 24, 13},
            {1065, kButton, "3", 83, 189, 24, 13},
            {1066, kButton, "4", 111, 189, 24, 13},
            {1067, kButton, "5", 139, 189, 24, 13},
            {1068, kButton, "6", 167, 189, 24, 13},
            {1069, kButton, "7", 195, 189, 24, 13},
            {1070, kButton, "8", 223, 189, 24, 13},
            {1071, kButton, "9", 251, 189, 24, 13},
            {1072, kButton, "10", 279, 189, 24, 13},

            {1, kButton, "EXIT with ADJUST", 105, 217, 100, 15, kDefaultButton},
            {2, kButton, "EXIT w/o ADJUST", 223, 217, 100, 15},
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

const Layout& FunctionLayout() {
    static const Layout layout{
        kLayoutFunction, "FUNCTION CONTROL", 300, 232, kLayoutFont, 9,
        {
            // The mirror radios and their note stay hidden; a stored rotate code 3 to 6 still
            // selects its radio, so then no visible rotate radio is selected.
            {kNoId, kGroup, "ROTATE", 7, 7, 286, 56},
            {1010, kRadio, "OFF", 16, 19, 90, 10, kNone, 1},
            {1011, kRadio, "SDI-1(L) ROTATE", 16, 32, 90, 10, kNone, 1},
            {1012, kRadio, "SDI-2(R) ROTATE", 16, 45, 90, 10, kNone, 1},
            {1017, kRadio, "SDI-1(L) H. MIRROR", 112, 19, 88, 10, kHidden, 1},
            {1020, kRadio, "SDI-2(R) H. MIRROR", 112, 32, 88, 10, kHidden, 1},
            {1021, kRadio, "SDI-1(L) V. MIRROR", 202, 19, 88, 10, kHidden, 1},
            {1022, kRadio, "SDI-2(R) V. MIRROR", 202, 32, 88, 10, kHidden, 1},
            {kNoId, Kind::StaticText, "*. MIRROR functions only suppot ZR-DPX20 limited firmware.",
             112, 46, 178, 9, kHidden},

            {kNoId, kGroup, "FRAME SYNCHRONIZER", 7, 67, 140, 27},
            {1013, kRadio, "OFF", 16, 79, 50, 10, kNone, 2},
            {1014, kRadio, "ON", 76, 79, 50, 10, kNone, 2},
            {kNoId, kGroup, "BEEP", 153, 67, 140, 27},
            {1015, kRadio, "OFF", 162, 79, 50, 10, kNone, 3},
            {1016, kRadio, "ON", 222, 79, 50, 10, kNone, 3},

            {kNoId, kGroup, "LCD BACK LIGHT", 7, 98, 286, 30},
            {1018, kBar, "", 16, 111, 226, 11},
            {1019, kEdit, "", 250, 110, 32, 13, kReadOnly},

            {kNoId, kGroup, "PARALLAX / INTENSITY / SUB INT.  MEMORY 1", 7, 132, 286, 31},
            {1000, kButton, "SAVE", 16, 144, 60, 14},
            {1001, kButton, "LOAD", 84, 144, 60, 14},
            {kNoId, kGroup, "PARALLAX / INTENSITY / SUB INT.  MEMORY 2", 7, 167, 286, 31},
            {1002, kButton, "SAVE", 16, 179, 60, 14},
            {1003, kButton, "LOAD", 84, 179, 60, 14},

            {2, kButton, "CANCEL (not used)", 143, 211, 80, 15, kHidden},
            {1, kButton, "EXIT", 229, 211, 64, 15, kDefaultButton},
        }};
    return layout;
}

const Layout& InputSelectLayout() {
    static const Layout layout{
        kLayoutInputSelect, "INPUT SELECT", 212, 98, kLayoutFont, 9,
        {
            // Shown in the order SDI-1(L), SDI-2(R), HDMI, SDI-LR; their codes are 1, 2, 3, 0.
            {kNoId, kGroup, "INPUT SELECT", 7, 7, 96, 64},
            {1010, kRadio, "SDI-1(L)", 16, 19, 80, 10, kNone, 1},
            {1011, kRadio, "SDI-2(R)", 16, 31, 80, 10, kNone, 1},
            {1012, kRadio, "HDMI", 16, 43, 80, 10, kNone, 1},
            {1013, kRadio, "SDI-LR", 16, 55, 80, 10, kNone, 1},

            {kNoId, kGroup, "SDI-LR POLARITY", 109, 7, 96, 40},
            {1014, kRadio, "NORMAL", 118, 19, 80, 10, kNone, 2},
            {1015, kRadio, "INVERT", 118, 31, 80, 10, kNone, 2},

            {2, kButton, "CANCEL (not used)", 55, 77, 80, 15, kHidden},
            {1, kButton, "EXIT", 141, 77, 64, 15, kDefaultButton},
        }};
    return layout;
}

const Layout& OutputPresetLayout() {
    static const Layout layout{
        kLayoutOutputPreset, "OUTPUT PRESET", 200, 160, kLayoutFont, 9,
        {
            {kNoId, kGroup, "SDI OUTPUT SELECT", 7, 7, 186, 27},
            {1023, kRadio, "MIX", 16, 19, 60, 10, kNone, 1},
            {1025, kRadio, "INDIVIDUAL", 90, 19, 90, 10, kNone, 1},
            {kNoId, kGroup, "HDMI OUTPUT SELECT", 7, 38, 186, 27},
            {1024, kRadio, "MIX", 16, 50, 60, 10, kNone, 2},
            {1026, kRadio, "INDIVIDUAL", 90, 50, 90, 10, kNone, 2},

            {kNoId, kGroup, "3D MIX FORMAT", 7, 69, 186, 63},
            {1027, kRadio, "LINE BY LINE", 16, 81, 170, 10, kNone, 3},
            {1028, kRadio, "SIDE BY SIDE H", 16, 93, 170, 10, kNone, 3},
            {1029, kRadio, "ABOVE-BELOW (MIX output Only)", 16, 105, 170, 10, kNone, 3},
            {1030, kRadio, "CHECKER BOARD", 16, 117, 170, 10, kNone, 3},

            {2, kButton, "CANCEL (not used)", 43, 139, 80, 15, kHidden},
            {1, kButton, "EXIT", 129, 139, 64, 15, kDefaultButton},
        }};
    return layout;
}

}  // namespace dpx::res
