#include "resources/FunctionIds.h"
#include "resources/InputSelectIds.h"
#include "resources/LayoutKinds.h"
#include "resources/OutputPresetIds.h"

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
            {function::kRotateOff, kRadio, "OFF", 16, 19, 90, 10, kNone, 1},
            {function::kRotateSdi1, kRadio, "SDI-1(L) ROTATE", 16, 32, 90, 10, kNone, 1},
            {function::kRotateSdi2, kRadio, "SDI-2(R) ROTATE", 16, 45, 90, 10, kNone, 1},
            {function::kHMirrorSdi1, kRadio, "SDI-1(L) H. MIRROR", 112, 19, 88, 10, kHidden, 1},
            {function::kHMirrorSdi2, kRadio, "SDI-2(R) H. MIRROR", 112, 32, 88, 10, kHidden, 1},
            {function::kVMirrorSdi1, kRadio, "SDI-1(L) V. MIRROR", 202, 19, 88, 10, kHidden, 1},
            {function::kVMirrorSdi2, kRadio, "SDI-2(R) V. MIRROR", 202, 32, 88, 10, kHidden, 1},
            {kNoId, Kind::StaticText, "*. MIRROR functions only suppot ZR-DPX20 limited firmware.",
             12, 65, 276, 9, kHidden},

            {kNoId, kGroup, "FRAME SYNCHRONIZER", 7, 77, 140, 27},
            {function::kFrameSyncOff, kRadio, "OFF", 16, 89, 50, 10, kNone, 2},
            {function::kFrameSyncOn, kRadio, "ON", 76, 89, 50, 10, kNone, 2},
            {kNoId, kGroup, "BEEP", 153, 77, 140, 27},
            {function::kBeepOff, kRadio, "OFF", 162, 89, 50, 10, kNone, 3},
            {function::kBeepOn, kRadio, "ON", 222, 89, 50, 10, kNone, 3},

            {kNoId, kGroup, "LCD BACK LIGHT", 7, 108, 286, 30},
            {function::kBackLightBar, kBar, "", 16, 121, 226, 11},
            {function::kBackLightField, kEdit, "", 250, 120, 32, 13, kReadOnly},

            {kNoId, kGroup, "PARALLAX / INTENSITY / SUB INT.  MEMORY 1", 7, 142, 286, 31},
            {function::kMemory1Save, kButton, "SAVE", 16, 154, 60, 14},
            {function::kMemory1Load, kButton, "LOAD", 84, 154, 60, 14},
            {kNoId, kGroup, "PARALLAX / INTENSITY / SUB INT.  MEMORY 2", 7, 177, 286, 31},
            {function::kMemory2Save, kButton, "SAVE", 16, 189, 60, 14},
            {function::kMemory2Load, kButton, "LOAD", 84, 189, 60, 14},

            {function::kCancel, kButton, "CANCEL (not used)", 143, 221, 80, 15, kHidden},
            {function::kExit, kButton, "EXIT", 229, 221, 64, 15, kDefaultButton},
        }};
    return layout;
}

const Layout& InputSelectLayout() {
    static const Layout layout{
        kLayoutInputSelect, "INPUT SELECT", 212, 98, kLayoutFont, 9,
        {
            // Shown in the order SDI-1(L), SDI-2(R), HDMI, SDI-LR; their codes are 1, 2, 3, 0.
            {kNoId, kGroup, "INPUT SELECT", 7, 7, 96, 64},
            {input_select::kSdi1, kRadio, "SDI-1(L)", 16, 19, 80, 10, kNone, 1},
            {input_select::kSdi2, kRadio, "SDI-2(R)", 16, 31, 80, 10, kNone, 1},
            {input_select::kHdmi, kRadio, "HDMI", 16, 43, 80, 10, kNone, 1},
            {input_select::kSdiLr, kRadio, "SDI-LR", 16, 55, 80, 10, kNone, 1},

            {kNoId, kGroup, "SDI-LR POLARITY", 109, 7, 96, 40},
            {input_select::kNormal, kRadio, "NORMAL", 118, 19, 80, 10, kNone, 2},
            {input_select::kInvert, kRadio, "INVERT", 118, 31, 80, 10, kNone, 2},

            {input_select::kCancel, kButton, "CANCEL (not used)", 55, 77, 80, 15, kHidden},
            {input_select::kExit, kButton, "EXIT", 141, 77, 64, 15, kDefaultButton},
        }};
    return layout;
}

const Layout& OutputPresetLayout() {
    static const Layout layout{
        kLayoutOutputPreset, "OUTPUT PRESET", 200, 160, kLayoutFont, 9,
        {
            {kNoId, kGroup, "SDI OUTPUT SELECT", 7, 7, 186, 27},
            {output_preset::kSdiMix, kRadio, "MIX", 16, 19, 60, 10, kNone, 1},
            {output_preset::kSdiIndividual, kRadio, "INDIVIDUAL", 90, 19, 90, 10, kNone, 1},
            {kNoId, kGroup, "HDMI OUTPUT SELECT", 7, 38, 186, 27},
            {output_preset::kHdmiMix, kRadio, "MIX", 16, 50, 60, 10, kNone, 2},
            {output_preset::kHdmiIndividual, kRadio, "INDIVIDUAL", 90, 50, 90, 10, kNone, 2},

            {kNoId, kGroup, "3D MIX FORMAT", 7, 69, 186, 63},
            {output_preset::kLineByLine, kRadio, "LINE BY LINE", 16, 81, 170, 10, kNone, 3},
            {output_preset::kSideBySide, kRadio, "SIDE BY SIDE H", 16, 93, 170, 10, kNone, 3},
            {output_preset::kAboveBelow, kRadio, "ABOVE-BELOW (MIX output Only)", 16, 105, 170, 10, kNone, 3},
            {output_preset::kCheckerBoard, kRadio, "CHECKER BOARD", 16, 117, 170, 10, kNone, 3},

            {output_preset::kCancel, kButton, "CANCEL (not used)", 43, 139, 80, 15, kHidden},
            {output_preset::kExit, kButton, "EXIT", 129, 139, 64, 15, kDefaultButton},
        }};
    return layout;
}

}  // namespace dpx::res
