#pragma once
// Dialog layouts as data: every control with its resource id, kind, caption, rectangle in
// dialog units and flags. One builder in ui/ turns any layout into Qt widgets.
#include <string_view>
#include <vector>

namespace dpx::res {

enum class Kind {
    StaticText,   // a label
    GroupBox,     // a frame with a caption; encloses the controls inside its rectangle
    CheckBox,
    RadioButton,
    PushButton,
    HScrollBar,
    EditField,    // single-line edit field
    Picture,      // a bitmap resource (bitmap = its id)
    Icon,         // an icon resource (bitmap = its id)
};

enum Flags : unsigned {
    kNone = 0,
    kHidden = 1u << 0,
    kDisabled = 1u << 1,
    kDefaultButton = 1u << 2,
    kTextLeft = 1u << 3,     // check box text on the left of the box
    kReadOnly = 1u << 4,
    kNotify = 1u << 5,       // a picture that reports clicks
};

constexpr int kNoId = -1;  // static texts and group boxes without an id
// The ids of the buttons that close a dialog: the first accepts it, the second rejects it.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

struct Control {
    int id;                 // resource id, or kNoId
    Kind kind;
    std::string_view caption;
    int x, y, w, h;         // dialog units: left, top, width, height
    unsigned flags = kNone;
    int group = 0;          // exclusive radio group number within the layout (0: none)
    int bitmap = 0;         // bitmap or icon resource id for Picture / Icon
};

struct Layout {
    int id;                     // resource id of the layout (102 the panel, 100 the version box)
    std::string_view caption;   // window caption
    int w, h;                   // dialog units
    std::string_view font;      // face name
    int point_size;
    std::vector<Control> controls;  // in creation (tab) order
};

// Layout lookup by resource id; nullptr for an unknown id.
const Layout* FindLayout(int id);

// The layouts themselves: the panel and the version box (PanelLayouts.cpp), the six
// control dialogs (DialogLayouts.cpp).
const Layout& PanelLayout();
const Layout& VersionBoxLayout();
const Layout& Adjust2D3DLayout();
const Layout& AdjustSdiLrLayout();
const Layout& ScopeLayout();
const Layout& FunctionLayout();
const Layout& InputSelectLayout();
const Layout& OutputPresetLayout();

// Resource ids of the layouts.
constexpr int kLayoutVersionBox = 100;
constexpr int kLayoutPanel = 102;
// The six control dialogs (ids of our own choosing).
constexpr int kLayoutAdjust2D3D = 130;
constexpr int kLayoutAdjustSdiLr = 131;
constexpr int kLayoutScope = 132;
constexpr int kLayoutFunction = 133;
constexpr int kLayoutInputSelect = 134;
constexpr int kLayoutOutputPreset = 135;

constexpr int kIconProgram = 128;
constexpr int kBitmapCorner = 139;
constexpr int kBitmapLogo = 143;
// String 101: the system-menu item that opens the version box.
extern const char* const kStringVersionMenu;

// The layout font as the resources name it.
inline constexpr std::string_view kLayoutFont = "ＭＳ Ｐゴシック";

}  // namespace dpx::res
