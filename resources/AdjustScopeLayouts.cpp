#include "resources/Adjust2D3DIds.h"
#include "resources/AdjustSdiLrIds.h"
#include "resources/LayoutKinds.h"
#include "resources/ScopeIds.h"

namespace dpx::res {

// The 2D-3D adjust, SDI-LR adjust and scope dialogs. Positions are dialog units; a group box encloses the controls
// inside its rectangle, and radios sharing a `group` number are exclusive.
using namespace kinds;

const Layout& Adjust2D3DLayout() {
    static const Layout layout{
        kLayoutAdjust2D3D, "ADJUST CONTROL", 330, 246, kLayoutFont, 9,
        {
            {kNoId, kGroup, "ADJUST MODE for 2D-3D Convert", 7, 7, 316, 212},
            {adjust2d3d::kOff, kRadio, "OFF", 18, 20, 70, 10, kNone, 1},
            {adjust2d3d::kStandard, kRadio, "STANDARD", 18, 35, 80, 10, kNone, 1},
            {adjust2d3d::kAnaglyph, kRadio, "ANAGRYPH MODE", 112, 35, 90, 10, kNone, 1},
            {adjust2d3d::kLrSequential, kRadio, "LR-SEQ. MODE", 216, 35, 90, 10, kNone, 1},

            {kNoId, kGroup, "PARALLAX", 14, 52, 302, 28},
            {adjust2d3d::kParallaxBar, kBar, "", 22, 64, 246, 11},
            {adjust2d3d::kParallaxField, kEdit, "", 276, 63, 32, 13, kReadOnly},
            {kNoId, kGroup, "INTENSITY", 14, 82, 302, 28},
            {adjust2d3d::kIntensityBar, kBar, "", 22, 94, 246, 11},
            {adjust2d3d::kIntensityField, kEdit, "", 276, 93, 32, 13, kReadOnly},
            {kNoId, kGroup, "SUB INT.", 14, 112, 302, 28},
            {adjust2d3d::kSubIntensityBar, kBar, "", 22, 124, 246, 11},
            {adjust2d3d::kSubIntensityField, kEdit, "", 276, 123, 32, 13, kReadOnly},

            {kNoId, kGroup, "MEMORY ADJUST VALUE", 14, 144, 302, 70},
            {kNoId, kGroup, "SAVE", 20, 154, 290, 27},
            {adjust2d3d::kSave1, kButton, "1", 27, 164, 24, 13},
            {adjust2d3d::kSave2, kButton, "2", 55, 164, 24, 13},
            {adjust2d3d::kSave3, kButton, "3", 83, 164, 24, 13},
            {adjust2d3d::kSave4, kButton, "4", 111, 164, 24, 13},
            {adjust2d3d::kSave5, kButton, "5", 139, 164, 24, 13},
            {adjust2d3d::kSave6, kButton, "6", 167, 164, 24, 13},
            {adjust2d3d::kSave7, kButton, "7", 195, 164, 24, 13},
            {adjust2d3d::kSave8, kButton, "8", 223, 164, 24, 13},
            {adjust2d3d::kSave9, kButton, "9", 251, 164, 24, 13},
            {adjust2d3d::kSave10, kButton, "10", 279, 164, 24, 13},
            {kNoId, kGroup, "LOAD", 20, 183, 290, 27},
            {adjust2d3d::kLoad1, kButton, "1", 27, 193, 24, 13},
            {adjust2d3d::kLoad2, kButton, "2", 55, 193, 24, 13},
            {adjust2d3d::kLoad3, kButton, "3", 83, 193, 24, 13},
            {adjust2d3d::kLoad4, kButton, "4", 111, 193, 24, 13},
            {adjust2d3d::kLoad5, kButton, "5", 139, 193, 24, 13},
            {adjust2d3d::kLoad6, kButton, "6", 167, 193, 24, 13},
            {adjust2d3d::kLoad7, kButton, "7", 195, 193, 24, 13},
            {adjust2d3d::kLoad8, kButton, "8", 223, 193, 24, 13},
            {adjust2d3d::kLoad9, kButton, "9", 251, 193, 24, 13},
            {adjust2d3d::kLoad10, kButton, "10", 279, 193, 24, 13},

            {adjust2d3d::kExitWithAdjust, kButton, "EXIT with ADJUST", 105, 225, 100, 15, kDefaultButton},
            {adjust2d3d::kExitWithoutAdjust, kButton, "EXIT w/o ADJUST", 223, 225, 100, 15},
        }};
    return layout;
}

const Layout& AdjustSdiLrLayout() {
    static const Layout layout{
        kLayoutAdjustSdiLr, "ADJUST CONTROL", 330, 116, kLayoutFont, 9,
        {
            {kNoId, kGroup, "ADJUST MODE for SDI-LR Input", 7, 7, 316, 82},
            {adjust_sdilr::kOff, kRadio, "OFF", 18, 20, 70, 10, kNone, 1},
            {adjust_sdilr::kSplitMode, kRadio, "SPLIT MODE", 18, 35, 80, 10, kNone, 1},
            {adjust_sdilr::kAnaglyph, kRadio, "ANAGRYPH MODE", 112, 35, 90, 10, kNone, 1},
            {adjust_sdilr::kLrSequential, kRadio, "LR-SEQ. MODE", 216, 35, 90, 10, kNone, 1},

            {kNoId, kGroup, "SPLIT POSITION", 14, 52, 302, 30},
            {adjust_sdilr::kSplitBar, kBar, "", 22, 65, 246, 11},
            {adjust_sdilr::kSplitField, kEdit, "", 276, 64, 32, 13, kReadOnly},

            {adjust_sdilr::kExitWithAdjust, kButton, "EXIT with ADJUST", 105, 95, 100, 15, kDefaultButton},
            {adjust_sdilr::kExitWithoutAdjust, kButton, "EXIT w/o ADJUST", 223, 95, 100, 15},
        }};
    return layout;
}

const Layout& ScopeLayout() {
    static const Layout layout{
        kLayoutScope, "SCOPE CONTROL", 300, 224, kLayoutFont, 9,
        {
            {kNoId, kGroup, "SCOPE MODE", 7, 7, 140, 62},
            {scope::kModeOff, kRadio, "OFF", 16, 19, 120, 10, kNone, 1},
            {scope::kWfm, kRadio, "W. F. M.", 16, 31, 120, 10, kNone, 1},
            {scope::kVectorScope, kRadio, "VECTOR SCOPE", 16, 43, 120, 10, kNone, 1},

            {kNoId, kGroup, "SCOPE SIGNAL", 153, 7, 140, 62},
            {scope::kParallel, kRadio, "PARALLEL", 162, 19, 120, 10, kNone, 2},
            {scope::kBalance, kRadio, "BALANCE", 162, 31, 120, 10, kNone, 2},
            {scope::kIn1, kRadio, "IN1", 162, 43, 120, 10, kNone, 2},
            {scope::kIn2, kRadio, "IN2", 162, 55, 120, 10, kNone, 2},

            {kNoId, kGroup, "SCOPE POSITION", 7, 73, 186, 40},
            {scope::kLeftUpper, kRadio, "LEFT UPPER", 16, 85, 82, 10, kNone, 3},
            {scope::kRightUpper, kRadio, "RIGHT UPPER", 102, 85, 86, 10, kNone, 3},
            {scope::kLeftLower, kRadio, "LEFT LOWER", 16, 98, 82, 10, kNone, 3},
            {scope::kRightLower, kRadio, "RIGHT LOWER", 102, 98, 86, 10, kNone, 3},

            {kNoId, kGroup, "SCOPE FILTER", 199, 73, 94, 40},
            {scope::kFlat, kRadio, "FLAT", 208, 85, 80, 10, kNone, 4},
            {scope::kLowPass, kRadio, "LOW PASS", 208, 98, 80, 10, kNone, 4},

            {kNoId, kGroup, "SCOPE GAIN", 7, 117, 286, 78},
            {kNoId, kGroup, "W.F.M. GAIN", 14, 128, 272, 29},
            {scope::kWfmBar, kBar, "", 22, 141, 218, 11},
            {scope::kWfmField, kEdit, "", 246, 140, 32, 13, kReadOnly},
            {kNoId, kGroup, "VECTOR SCOPE GAIN", 14, 160, 272, 29},
            {scope::kVectorBar, kBar, "", 22, 173, 218, 11},
            {scope::kVectorField, kEdit, "", 246, 172, 32, 13, kReadOnly},

            {scope::kExitWithScope, kButton, "EXIT with SCOPE", 87, 203, 96, 15, kDefaultButton},
            {scope::kExitWithoutScope, kButton, "EXIT w/o SCOPE", 197, 203, 96, 15},
        }};
    return layout;
}

}  // namespace dpx::res
