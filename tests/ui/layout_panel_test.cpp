// The panel (102) and version box (100) layouts as data: every control with its id, kind,
// caption, rectangle and flags, and the geometry rules the builder relies on (controls
// inside the dialog and inside the frame that names them, unique ids, one COM port group).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "resources/Layout.h"
#include "resources/PanelIds.h"
#include "resources/VersionBoxIds.h"

namespace dpx::res {
namespace {

using namespace panel;

struct Expected {
    int id;
    Kind kind;
    const char* caption;
    int x, y, w, h;
    unsigned flags;
};

const Control* ById(const Layout& layout, int id) {
    for (const Control& c : layout.controls)
        if (c.id == id) return &c;
    return nullptr;
}

const Control* ByCaption(const Layout& layout, Kind kind, std::string_view caption) {
    for (const Control& c : layout.controls)
        if (c.kind == kind && c.caption == caption) return &c;
    return nullptr;
}

void ExpectControl(const Control* c, const Expected& e) {
    ASSERT_NE(c, nullptr) << e.id << " " << e.caption;
    EXPECT_EQ(c->id, e.id) << e.caption;
    EXPECT_EQ(c->kind, e.kind) << e.id << " " << e.caption;
    EXPECT_EQ(c->caption, e.caption) << e.id;
    EXPECT_EQ(c->x, e.x) << e.id << " " << e.caption;
    EXPECT_EQ(c->y, e.y) << e.id << " " << e.caption;
    EXPECT_EQ(c->w, e.w) << e.id << " " << e.caption;
    EXPECT_EQ(c->h, e.h) << e.id << " " << e.caption;
    EXPECT_EQ(c->flags, e.flags) << e.id << " " << e.caption;
}

TEST(PanelLayout, HeaderAndControlsWithIds) {
    const Layout* layout = FindLayout(kLayoutPanel);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->caption, "ZR-DPX20 Remote");
    EXPECT_EQ(layout->w, 243);
    EXPECT_EQ(layout->h, 301);
    EXPECT_EQ(layout->font, "ＭＳ Ｐゴシック");
    EXPECT_EQ(layout->point_size, 9);

    const Expected table[] = {
        {kConnect, Kind::CheckBox, "CONNECT", 13, 38, 66, 19, kNone},
        {kSyncOn, Kind::CheckBox, "Synchronized all settings to ZR-DPX20", 91, 39, 130, 10, kNone},
        {kNoAck, Kind::CheckBox, "Don't check ACK  [disable handshake]", 91, 51, 126, 10, kNone},
        {kVirtualMode, Kind::CheckBox, "Vertual Mode  [disable RS232c command]", 91, 64, 139, 10, kNone},
        {kFunction, Kind::PushButton, "FUNCTION", 13, 121, 67, 19, kNone},
        {kAdjustMode, Kind::CheckBox, "ADJUST MODE", 89, 121, 67, 20, kNone},
        {kScope, Kind::CheckBox, "SCOPE", 164, 121, 65, 20, kTextLeft},
        {kInputSelect, Kind::PushButton, "INPUT SELECT", 13, 153, 67, 19, kNone},
        {kOutputPreset, Kind::PushButton, "OUTPUT PRESET", 89, 153, 67, 19, kNone},
        {kConversion, Kind::CheckBox, "2D-3D", 13, 184, 67, 19, kNone},
        {kCornerPicture, Kind::Picture, "", 7, 267, 23, 27, kNotify},
        {kDebugField, Kind::EditField, "", 35, 267, 52, 13, kReadOnly},
        {kDebugBox, Kind::CheckBox, "Debug Mode", 35, 284, 52, 10, kHidden | kDisabled},
        {kLogo, Kind::Picture, "", 195, 5, 39, 20, kHidden},
        {kVersionInfo, Kind::PushButton, "Version Info.", 126, 276, 49, 18, kNone},
        {kExit, Kind::PushButton, "Exit", 186, 276, 50, 18, kDefaultButton},
    };
    for (const Expected& e : table) ExpectControl(ById(*layout, e.id), e);
    EXPECT_EQ(ById(*layout, kCornerPicture)->bitmap, kBitmapCorner);
    EXPECT_EQ(ById(*layout, kLogo)->bitmap, kBitmapLogo);

    // COM 1 to 8: radios without text, one exclusive group, labels "1" to "8" above them.
    const int group = ById(*layout, kComPort1)->group;
    EXPECT_NE(group, 0);
    for (int k = 1; k <= 8; ++k) {
        const int left = 14 + 8 * (k - 1);
        ExpectControl(ById(*layout, kComPort1 + k - 1), {kComPort1 + k - 1, Kind::RadioButton, "", left, 82, 9, 10, kNone});
        EXPECT_EQ(ById(*layout, kComPort1 + k - 1)->group, group);
        const std::string caption = std::to_string(k);
        ExpectControl(ByCaption(*layout, Kind::StaticText, caption),
                      {kNoId, Kind::StaticText, caption.c_str(), left + 3, 74, 8, 8, kNone});
    }

    // SAVE 1-6 and LOAD 1-6: 6 is out of the run of ids.
    const int save_ids[] = {kSave1, kSave2, kSave3, kSave4, kSave5, kSave6};
    const int save_left[] = {21, 37, 53, 69, 85, 102};
    const int load_ids[] = {kLoad1, kLoad2, kLoad3, kLoad4, kLoad5, kLoad6};
    const int load_left[] = {133, 149, 165, 181, 197, 213};
    for (int n = 0; n < 6; ++n) {
        const std::string caption = std::to_string(n + 1);
        ExpectControl(ById(*layout, save_ids[n]), {save_ids[n], Kind::PushButton, caption.c_str(), save_left[n], 240, 11, 12, kNone});
        ExpectControl(ById(*layout, load_ids[n]), {load_ids[n], Kind::PushButton, caption.c_str(), load_left[n], 240, 11, 12, kNone});
    }
}

TEST(PanelLayout, TitleLineAndFrames) {
    const Layout& layout = PanelLayout();
    ExpectControl(ByCaption(layout, Kind::StaticText, "ZR-DPX20 Remote Controller"),
                  {kNoId, Kind::StaticText, "ZR-DPX20 Remote Controller", 8, 9, 85, 8, kNone});
    const Expected frames[] = {
        {kNoId, Kind::GroupBox, "RS232C control option", 7, 25, 229, 73, kNone},
        {kNoId, Kind::GroupBox, "COM PORT", 12, 65, 70, 27, kNone},
        {kNoId, Kind::GroupBox, "Controls", 7, 106, 229, 104, kNone},
        {kNoId, Kind::GroupBox, "MEMORY ALL SETTINGS", 7, 218, 229, 43, kNone},
        {kNoId, Kind::GroupBox, "SAVE", 13, 230, 106, 26, kNone},
        {kNoId, Kind::GroupBox, "LOAD", 125, 230, 105, 26, kNone},
    };
    for (const Expected& e : frames) ExpectControl(ByCaption(layout, Kind::GroupBox, e.caption), e);
    // Nothing else: 6 frames, 9 static texts, and the controls with ids counted above.
    EXPECT_EQ(layout.controls.size(), 6u + 9u + 16u + 8u + 12u);
}

bool Inside(const Control& inner, const Control& outer) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

// The frames enclose what they name; a typo in a rectangle shows up here.
TEST(PanelLayout, FramesEncloseTheirControls) {
    const Layout& layout = PanelLayout();
    const auto frame = [&](const char* caption) { return *ByCaption(layout, Kind::GroupBox, caption); };
    for (int id : {kConnect, kSyncOn, kNoAck, kVirtualMode}) EXPECT_TRUE(Inside(*ById(layout, id), frame("RS232C control option"))) << id;
    EXPECT_TRUE(Inside(frame("COM PORT"), frame("RS232C control option")));
    for (int id = kComPort1; id <= kComPort8; ++id) EXPECT_TRUE(Inside(*ById(layout, id), frame("COM PORT"))) << id;
    for (int id : {kFunction, kAdjustMode, kScope, kInputSelect, kOutputPreset, kConversion}) EXPECT_TRUE(Inside(*ById(layout, id), frame("Controls"))) << id;
    for (int id : {kSave1, kSave2, kSave3, kSave4, kSave5, kSave6}) EXPECT_TRUE(Inside(*ById(layout, id), frame("SAVE"))) << id;
    for (int id : {kLoad1, kLoad2, kLoad3, kLoad4, kLoad5, kLoad6}) EXPECT_TRUE(Inside(*ById(layout, id), frame("LOAD"))) << id;
    EXPECT_TRUE(Inside(frame("SAVE"), frame("MEMORY ALL SETTINGS")));
    EXPECT_TRUE(Inside(frame("LOAD"), frame("MEMORY ALL SETTINGS")));
}

TEST(PanelLayout, EveryControlInsideTheDialogAndIdsUnique) {
    for (const Layout* layout : {&PanelLayout(), &VersionBoxLayout()}) {
        std::set<int> ids;
        const Control dialog{kNoId, Kind::GroupBox, "", 0, 0, layout->w, layout->h};
        for (const Control& c : layout->controls) {
            EXPECT_TRUE(Inside(c, dialog)) << layout->id << " " << c.id << " " << c.caption;
            if (c.id != kNoId) {
                EXPECT_TRUE(ids.insert(c.id).second) << layout->id << " duplicate " << c.id;
            }
        }
    }
}

TEST(VersionBoxLayout, IconTextAndOk) {
    const Layout* layout = FindLayout(kLayoutVersionBox);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->caption, "ZR-DPX20 Remote : Version Infomation");
    EXPECT_EQ(layout->w, 225);
    EXPECT_EQ(layout->h, 55);
    EXPECT_EQ(layout->font, "ＭＳ Ｐゴシック");
    EXPECT_EQ(layout->point_size, 9);
    ASSERT_EQ(layout->controls.size(), 3u);
    const Control& icon = layout->controls[0];
    EXPECT_EQ(icon.kind, Kind::Icon);
    EXPECT_EQ(icon.bitmap, kIconProgram);
    EXPECT_EQ(icon.x, 9);
    EXPECT_EQ(icon.y, 17);
    ExpectControl(ByCaption(*layout, Kind::StaticText, "dpx20remote  Version 1.0.0"),
                  {kNoId, Kind::StaticText, "dpx20remote  Version 1.0.0", 40, 10, 119, 8, kNone});
    ExpectControl(ById(*layout, version_box::kOk),
                  {version_box::kOk, Kind::PushButton, "OK", 168, 7, 50, 14, kDefaultButton});
}

TEST(Layouts, SystemMenuStringAndUnknownId) {
    EXPECT_STREQ(kStringVersionMenu, "dpx20remote のﾊﾞｰｼﾞｮﾝ情報(&A)...");
    EXPECT_EQ(FindLayout(101), nullptr);
}

}  // namespace
}  // namespace dpx::res
