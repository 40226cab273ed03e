#include "resources/LayoutKinds.h"

namespace dpx::res {

// The function, input select and output preset dialogs. Positions are dialog units; a group box encloses the controls
// inside its rectangle, and radios sharing a `group` number are exclusive.
using namespace kinds;

const Layout& FunctionLayout() {
    static const Layout layout{
        kLayoutFunction, "FUNCTION CONTROL", 300, 242, kLayoutFont, 9,
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
             12, 65, 276, 9, kHidden},

            {kNoId, kGroup, "FRAME SYNCHRONIZER", 7, 77, 140, 27},
            {1013, kRadio, "OFF", 16, 89, 50, 10, kNone, 2},
            {1014, kRadio, "ON", 76, 89, 50, 10, kNone, 2},
            {kNoId, kGroup, "BEEP", 153, 77, 140, 27},
            {1015, kRadio, "OFF", 162, 89, 50, 10, kNone, 3},
            {1016, kRadio, "ON", 222, 89, 50, 10, kNone, 3},

            {kNoId, kGroup, "LCD BACK LIGHT", 7, 108, 286, 30},
            {1018, kBar, "", 16, 121, 226, 11},
            {1019, kEdit, "", 250, 120, 32, 13, kReadOnly},

            {kNoId, kGroup, "PARALLAX / INTENSITY / SUB INT.  MEMORY 1", 7, 142, 286, 31},
            {1000, kButton, "SAVE", 16, 154, 60, 14},
            {1001, kButton, "LOAD", 84, 154, 60, 14},
            {kNoId, kGroup, "PARALLAX / INTENSITY / SUB INT.  MEMORY 2", 7, 177, 286, 31},
            {1002, kButton, "SAVE", 16, 189, 60, 14},
            {1003, kButton, "LOAD", 84, 189, 60, 14},

            {2, kButton, "CANCEL (not used)", 143, 221, 80, 15, kHidden},
            {1, kButton, "EXIT", 229, 221, 64, 15, kDefaultButton},
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
