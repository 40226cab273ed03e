#include "resources/LayoutKinds.h"
#include "resources/PanelIds.h"
#include "resources/VersionBoxIds.h"

namespace dpx::res {

// The main control panel and the version box. Positions are dialog units; a group box
// encloses the controls inside its rectangle, and radios sharing a `group` number are
// exclusive. Controls are listed in creation (tab) order.
namespace {

constexpr int kComPortGroup = 1;

}  // namespace

using namespace kinds;

const Layout& PanelLayout() {
    static const Layout layout{
        kLayoutPanel, "ZR-DPX20 Remote", 243, 301, kLayoutFont, 9,
        {
            {kNoId, kText, "ZR-DPX20 Remote Controller", 8, 9, 85, 8},

            {kNoId, kGroup, "RS232C control option", 7, 25, 229, 73},
            {panel::kConnect, kCheck, "CONNECT", 13, 38, 66, 19},
            {panel::kSyncOn, kCheck, "Synchronized all settings to ZR-DPX20", 91, 39, 130, 10},
            {panel::kNoAck, kCheck, "Don't check ACK  [disable handshake]", 91, 51, 126, 10},
            {panel::kVirtualMode, kCheck, "Vertual Mode  [disable RS232c command]", 91, 64, 139, 10},
            {kNoId, kGroup, "COM PORT", 12, 65, 70, 27},
            {kNoId, kText, "1", 17, 74, 8, 8},
            {kNoId, kText, "2", 25, 74, 8, 8},
            {kNoId, kText, "3", 33, 74, 8, 8},
            {kNoId, kText, "4", 41, 74, 8, 8},
            {kNoId, kText, "5", 49, 74, 8, 8},
            {kNoId, kText, "6", 57, 74, 8, 8},
            {kNoId, kText, "7", 65, 74, 8, 8},
            {kNoId, kText, "8", 73, 74, 8, 8},
            {panel::kComPort1, kRadio, "", 14, 82, 9, 10, kNone, kComPortGroup},
            {panel::kComPort2, kRadio, "", 22, 82, 9, 10, kNone, kComPortGroup},
            {panel::kComPort3, kRadio, "", 30, 82, 9, 10, kNone, kComPortGroup},
            {panel::kComPort4, kRadio, "", 38, 82, 9, 10, kNone, kComPortGroup},
            {panel::kComPort5, kRadio, "", 46, 82, 9, 10, kNone, kComPortGroup},
            {panel::kComPort6, kRadio, "", 54, 82, 9, 10, kNone, kComPortGroup},
            {panel::kComPort7, kRadio, "", 62, 82, 9, 10, kNone, kComPortGroup},
            {panel::kComPort8, kRadio, "", 70, 82, 9, 10, kNone, kComPortGroup},

            {kNoId, kGroup, "Controls", 7, 106, 229, 104},
            {panel::kFunction, kButton, "FUNCTION", 13, 121, 67, 19},
            {panel::kAdjustMode, kCheck, "ADJUST MODE", 89, 121, 67, 20},
            {panel::kScope, kCheck, "SCOPE", 164, 121, 65, 20, kTextLeft},
            {panel::kInputSelect, kButton, "INPUT SELECT", 13, 153, 67, 19},
            {panel::kOutputPreset, kButton, "OUTPUT PRESET", 89, 153, 67, 19},
            {panel::kConversion, kCheck, "2D-3D", 13, 184, 67, 19},

            {kNoId, kGroup, "MEMORY ALL SETTINGS", 7, 218, 229, 43},
            {kNoId, kGroup, "SAVE", 13, 230, 106, 26},
            {panel::kSave1, kButton, "1", 21, 240, 11, 12},
            {panel::kSave2, kButton, "2", 37, 240, 11, 12},
            {panel::kSave3, kButton, "3", 53, 240, 11, 12},
            {panel::kSave4, kButton, "4", 69, 240, 11, 12},
            {panel::kSave5, kButton, "5", 85, 240, 11, 12},
            {panel::kSave6, kButton, "6", 102, 240, 11, 12},
            {kNoId, kGroup, "LOAD", 125, 230, 105, 26},
            {panel::kLoad1, kButton, "1", 133, 240, 11, 12},
            {panel::kLoad2, kButton, "2", 149, 240, 11, 12},
            {panel::kLoad3, kButton, "3", 165, 240, 11, 12},
            {panel::kLoad4, kButton, "4", 181, 240, 11, 12},
            {panel::kLoad5, kButton, "5", 197, 240, 11, 12},
            {panel::kLoad6, kButton, "6", 213, 240, 11, 12},

            {panel::kCornerPicture, kPicture, "", 7, 267, 23, 27, kNotify, 0, kBitmapCorner},
            {panel::kDebugField, kEdit, "", 35, 267, 52, 13, kReadOnly},
            {panel::kDebugBox, kCheck, "Debug Mode", 35, 284, 52, 10, kHidden | kDisabled},
            {panel::kLogo, kPicture, "", 195, 5, 39, 20, kHidden, 0, kBitmapLogo},
            {panel::kVersionInfo, kButton, "Version Info.", 126, 276, 49, 18},
            {panel::kExit, kButton, "Exit", 186, 276, 50, 18, kDefaultButton},
        }};
    return layout;
}

const Layout& VersionBoxLayout() {
    static const Layout layout{
        kLayoutVersionBox, "ZR-DPX20 Remote : Version Infomation", 225, 55, kLayoutFont, 9,
        {
            {kNoId, Kind::Icon, "", 9, 17, 21, 20, kNone, 0, kIconProgram},
            {kNoId, kText, "dpx20remote  Version 1.0.0", 40, 10, 119, 8},
            {version_box::kOk, kButton, "OK", 168, 7, 50, 14, kDefaultButton},
        }};
    return layout;
}

}  // namespace dpx::res
