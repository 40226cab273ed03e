// The layouts of the six control dialogs held against their control tables: ids, captions,
// kinds, the group box that frames each control, exclusive radio groups, hidden controls and
// the default button, read-only fields right of their bars, rows and corners; then the built
// dialogs: nothing overlaps, nothing sticks out, no control crosses a frame line, every
// caption fits. Pictures of the dialogs: tests/ui/dialog_screenshots.cpp.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/Adjust2D3DDialog.h"
#include "dialogs/AdjustSdiLrDialog.h"
#include "dialogs/FunctionDialog.h"
#include "dialogs/InputSelectDialog.h"
#include "dialogs/OutputPresetDialog.h"
#include "dialogs/ScopeDialog.h"
#include "link/RS232c_bios.h"
#include "resources/Adjust2D3DIds.h"
#include "resources/AdjustSdiLrIds.h"
#include "resources/FunctionIds.h"
#include "resources/InputSelectIds.h"
#include "resources/Layout.h"
#include "resources/OutputPresetIds.h"
#include "resources/ScopeIds.h"
#include "tests/support/Recorders.h"
#include "tests/support/TestApp.h"
#include "ui/LayoutDialog.h"

namespace dpx {
namespace {

namespace adjust2d3d = res::adjust2d3d;
namespace adjust_sdilr = res::adjust_sdilr;
namespace scope = res::scope;
namespace function = res::function;
namespace input_select = res::input_select;
namespace output_preset = res::output_preset;

using res::Kind;

// One row of a control table; `frame` is the caption of the innermost group box that
// encloses the control, empty when none does.
struct Row {
    int id;
    std::string caption;
    Kind kind;
    std::string frame;
    bool hidden = false;
};

// A group box and the group box that encloses it (empty: none).
struct Frame {
    std::string caption;
    std::string outer;
};

struct Table {
    int layout_id;
    std::string title;
    std::vector<Row> rows;
    std::vector<Frame> frames;
};

Table Adjust2D3DTable() {
    const std::string outer = "ADJUST MODE for 2D-3D Convert";
    Table t{res::kLayoutAdjust2D3D, "ADJUST CONTROL",
            {
                {adjust2d3d::kOff, "OFF", Kind::RadioButton, outer},
                {adjust2d3d::kStandard, "STANDARD", Kind::RadioButton, outer},
                {adjust2d3d::kAnaglyph, "ANAGRYPH MODE", Kind::RadioButton, outer},
                {adjust2d3d::kLrSequential, "LR-SEQ. MODE", Kind::RadioButton, outer},
                {adjust2d3d::kParallaxBar, "", Kind::HScrollBar, "PARALLAX"},
                {adjust2d3d::kParallaxField, "", Kind::EditField, "PARALLAX"},
                {adjust2d3d::kIntensityBar, "", Kind::HScrollBar, "INTENSITY"},
                {adjust2d3d::kIntensityField, "", Kind::EditField, "INTENSITY"},
                {adjust2d3d::kSubIntensityBar, "", Kind::HScrollBar, "SUB INT."},
                {adjust2d3d::kSubIntensityField, "", Kind::EditField, "SUB INT."},
                {adjust2d3d::kExitWithAdjust, "EXIT with ADJUST", Kind::PushButton, ""},
                {adjust2d3d::kExitWithoutAdjust, "EXIT w/o ADJUST", Kind::PushButton, ""},
            },
            {{outer, ""}, {"PARALLAX", outer}, {"INTENSITY", outer}, {"SUB INT.", outer},
             {"MEMORY ADJUST VALUE", outer}, {"SAVE", "MEMORY ADJUST VALUE"},
             {"LOAD", "MEMORY ADJUST VALUE"}}};
    for (int n = 1; n <= 10; ++n) {
        t.rows.push_back({adjust2d3d::kSave1 + n - 1, std::to_string(n), Kind::PushButton, "SAVE"});
        t.rows.push_back({adjust2d3d::kLoad1 + n - 1, std::to_string(n), Kind::PushButton, "LOAD"});
    }
    return t;
}

Table AdjustSdiLrTable() {
    const std::string outer = "ADJUST MODE for SDI-LR Input";
    return {res::kLayoutAdjustSdiLr, "ADJUST CONTROL",
            {
                {adjust_sdilr::kOff, "OFF", Kind::RadioButton, outer},
                {adjust_sdilr::kSplitMode, "SPLIT MODE", Kind::RadioButton, outer},
                {adjust_sdilr::kAnaglyph, "ANAGRYPH MODE", Kind::RadioButton, outer},
                {adjust_sdilr::kLrSequential, "LR-SEQ. MODE", Kind::RadioButton, outer},
                {adjust_sdilr::kSplitBar, "", Kind::HScrollBar, "SPLIT POSITION"},
                {adjust_sdilr::kSplitField, "", Kind::EditField, "SPLIT POSITION"},
                {adjust_sdilr::kExitWithAdjust, "EXIT with ADJUST", Kind::PushButton, ""},
                {adjust_sdilr::kExitWithoutAdjust, "EXIT w/o ADJUST", Kind::PushButton, ""},
            },
            {{outer, ""}, {"SPLIT POSITION", outer}}};
}

Table ScopeTable() {
    return {res::kLayoutScope, "SCOPE CONTROL",
            {
                {scope::kModeOff, "OFF", Kind::RadioButton, "SCOPE MODE"},
                {scope::kWfm, "W. F. M.", Kind::RadioButton, "SCOPE MODE"},
                {scope::kVectorScope, "VECTOR SCOPE", Kind::RadioButton, "SCOPE MODE"},
                {scope::kParallel, "PARALLEL", Kind::RadioButton, "SCOPE SIGNAL"},
                {scope::kBalance, "BALANCE", Kind::RadioButton, "SCOPE SIGNAL"},
                {scope::kIn1, "IN1", Kind::RadioButton, "SCOPE SIGNAL"},
                {scope::kIn2, "IN2", Kind::RadioButton, "SCOPE SIGNAL"},
                {scope::kLeftUpper, "LEFT UPPER", Kind::RadioButton, "SCOPE POSITION"},
                {scope::kRightUpper, "RIGHT UPPER", Kind::RadioButton, "SCOPE POSITION"},
                {scope::kLeftLower, "LEFT LOWER", Kind::RadioButton, "SCOPE POSITION"},
                {scope::kRightLower, "RIGHT LOWER", Kind::RadioButton, "SCOPE POSITION"},
                {scope::kFlat, "FLAT", Kind::RadioButton, "SCOPE FILTER"},
                {scope::kLowPass, "LOW PASS", Kind::RadioButton, "SCOPE FILTER"},
                {scope::kWfmBar, "", Kind::HScrollBar, "W.F.M. GAIN"},
                {scope::kWfmField, "", Kind::EditField, "W.F.M. GAIN"},
                {scope::kVectorBar, "", Kind::HScrollBar, "VECTOR SCOPE GAIN"},
                {scope::kVectorField, "", Kind::EditField, "VECTOR SCOPE GAIN"},
                {scope::kExitWithScope, "EXIT with SCOPE", Kind::PushButton, ""},
                {scope::kExitWithoutScope, "EXIT w/o SCOPE", Kind::PushButton, ""},
            },
            {{"SCOPE MODE", ""}, {"SCOPE SIGNAL", ""}, {"SCOPE POSITION", ""}, {"SCOPE FILTER", ""},
             {"SCOPE GAIN", ""}, {"W.F.M. GAIN", "SCOPE GAIN"}, {"VECTOR SCOPE GAIN", "SCOPE GAIN"}}};
}

const std::string kRotate = "ROTATE";
const std::string kMemory1 = "PARALLAX / INTENSITY / SUB INT.  MEMORY 1";
const std::string kMemory2 = "PARALLAX / INTENSITY / SUB INT.  MEMORY 2";

const Table kFunction{
    res::kLayoutFunction,
    "FUNCTION CONTROL",
    {
        {function::kRotateOff, "OFF", Kind::RadioButton, kRotate},
        {function::kRotateSdi1, "SDI-1(L) ROTATE", Kind::RadioButton, kRotate},
        {function::kRotateSdi2, "SDI-2(R) ROTATE", Kind::RadioButton, kRotate},
        {function::kHMirrorSdi1, "SDI-1(L) H. MIRROR", Kind::RadioButton, kRotate, true},
        {function::kHMirrorSdi2, "SDI-2(R) H. MIRROR", Kind::RadioButton, kRotate, true},
        {function::kVMirrorSdi1, "SDI-1(L) V. MIRROR", Kind::RadioButton, kRotate, true},
        {function::kVMirrorSdi2, "SDI-2(R) V. MIRROR", Kind::RadioButton, kRotate, true},
        {res::kNoId, "*. MIRROR functions only suppot ZR-DPX20 limited firmware.", Kind::StaticText, "", true},
        {function::kFrameSyncOff, "OFF", Kind::RadioButton, "FRAME SYNCHRONIZER"},
        {function::kFrameSyncOn, "ON", Kind::RadioButton, "FRAME SYNCHRONIZER"},
        {function::kBeepOff, "OFF", Kind::RadioButton, "BEEP"},
        {function::kBeepOn, "ON", Kind::RadioButton, "BEEP"},
        {function::kBackLightBar, "", Kind::HScrollBar, "LCD BACK LIGHT"},
        {function::kBackLightField, "", Kind::EditField, "LCD BACK LIGHT"},
        {function::kMemory1Save, "SAVE", Kind::PushButton, kMemory1},
        {function::kMemory1Load, "LOAD", Kind::PushButton, kMemory1},
        {function::kMemory2Save, "SAVE", Kind::PushButton, kMemory2},
        {function::kMemory2Load, "LOAD", Kind::PushButton, kMemory2},
        {function::kExit, "EXIT", Kind::PushButton, ""},
        {function::kCancel, "CANCEL (not used)", Kind::PushButton, "", true},
    },
    {{kRotate, ""}, {"FRAME SYNCHRONIZER", ""}, {"BEEP", ""}, {"LCD BACK LIGHT", ""}, {kMemory1, ""}, {kMemory2, ""}},
};

const Table kInput{
    res::kLayoutInputSelect,
    "INPUT SELECT",
    {
        {input_select::kSdi1, "SDI-1(L)", Kind::RadioButton, "INPUT SELECT"},
        {input_select::kSdi2, "SDI-2(R)", Kind::RadioButton, "INPUT SELECT"},
        {input_select::kHdmi, "HDMI", Kind::RadioButton, "INPUT SELECT"},
        {input_select::kSdiLr, "SDI-LR", Kind::RadioButton, "INPUT SELECT"},
        {input_select::kNormal, "NORMAL", Kind::RadioButton, "SDI-LR POLARITY"},
        {input_select::kInvert, "INVERT", Kind::RadioButton, "SDI-LR POLARITY"},
        {input_select::kExit, "EXIT", Kind::PushButton, ""},
        {input_select::kCancel, "CANCEL (not used)", Kind::PushButton, "", true},
    },
    {{"INPUT SELECT", ""}, {"SDI-LR POLARITY", ""}},
};

const Table kOutput{
    res::kLayoutOutputPreset,
    "OUTPUT PRESET",
    {
        {output_preset::kSdiMix, "MIX", Kind::RadioButton, "SDI OUTPUT SELECT"},
        {output_preset::kSdiIndividual, "INDIVIDUAL", Kind::RadioButton, "SDI OUTPUT SELECT"},
        {output_preset::kHdmiMix, "MIX", Kind::RadioButton, "HDMI OUTPUT SELECT"},
        {output_preset::kHdmiIndividual, "INDIVIDUAL", Kind::RadioButton, "HDMI OUTPUT SELECT"},
        {output_preset::kLineByLine, "LINE BY LINE", Kind::RadioButton, "3D MIX FORMAT"},
        {output_preset::kSideBySide, "SIDE BY SIDE H", Kind::RadioButton, "3D MIX FORMAT"},
        {output_preset::kAboveBelow, "ABOVE-BELOW (MIX output Only)", Kind::RadioButton, "3D MIX FORMAT"},
        {output_preset::kCheckerBoard, "CHECKER BOARD", Kind::RadioButton, "3D MIX FORMAT"},
        {output_preset::kExit, "EXIT", Kind::PushButton, ""},
        {output_preset::kCancel, "CANCEL (not used)", Kind::PushButton, "", true},
    },
    {{"SDI OUTPUT SELECT", ""}, {"HDMI OUTPUT SELECT", ""}, {"3D MIX FORMAT", ""}},
};

const std::vector<Table>& Tables() {
    static const std::vector<Table> tables{Adjust2D3DTable(), AdjustSdiLrTable(), ScopeTable(),
                                           kFunction,         kInput,             kOutput};
    return tables;
}

bool Encloses(const res::Control& outer, const res::Control& inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

// The caption of the innermost group box of `layout` that encloses `c`, empty when none does.
std::string FrameOf(const res::Layout& layout, const res::Control& c) {
    const res::Control* best = nullptr;
    for (const res::Control& g : layout.controls)
        if (g.kind == Kind::GroupBox && &g != &c && Encloses(g, c) && (!best || g.w * g.h < best->w * best->h))
            best = &g;
    return best ? std::string(best->caption) : std::string();
}

const res::Control* Find(const res::Layout& layout, int id) {
    for (const res::Control& c : layout.controls)
        if (c.id == id) return &c;
    return nullptr;
}

// The control of a table row; a row without an id is found by its kind and caption.
const res::Control* Find(const res::Layout& layout, const Row& row) {
    for (const res::Control& c : layout.controls)
        if (c.id == row.id && c.kind == row.kind && (row.id != res::kNoId || c.caption == row.caption))
            return &c;
    return nullptr;
}

// The dialogs are built on a session whose link never connects: whatever they send fails unsent.
std::unique_ptr<ui::LayoutDialog> Make(int layout_id) {
    static RS232c_bios never_connected;
    static Session session(never_connected, ".");
    switch (layout_id) {
        case res::kLayoutAdjust2D3D: return std::make_unique<Adjust2D3DDialog>(session);
        case res::kLayoutAdjustSdiLr: return std::make_unique<AdjustSdiLrDialog>(session);
        case res::kLayoutScope: return std::make_unique<ScopeDialog>(session);
        case res::kLayoutFunction: return std::make_unique<FunctionDialog>(session);
        case res::kLayoutInputSelect: return std::make_unique<InputSelectDialog>(session);
        default: return std::make_unique<OutputPresetDialog>(session);
    }
}

class LayoutDialogsTest : public ::testing::Test {
protected:
    void SetUp() override { test::TestApp(); }
};

TEST_F(LayoutDialogsTest, EveryControlOfTheTablesAndNothingElse) {
    for (const Table& table : Tables()) {
        const res::Layout* layout = res::FindLayout(table.layout_id);
        ASSERT_NE(layout, nullptr);
        SCOPED_TRACE(table.layout_id);
        EXPECT_EQ(layout->caption, table.title);
        EXPECT_EQ(layout->controls.size(), table.rows.size() + table.frames.size());
        for (const Row& row : table.rows) {
            SCOPED_TRACE(row.id);
            const res::Control* c = Find(*layout, row);
            ASSERT_NE(c, nullptr) << row.caption;
            EXPECT_EQ(c->caption, row.caption);
            EXPECT_EQ(FrameOf(*layout, *c), row.frame) << row.caption;
            EXPECT_EQ((c->flags & res::kHidden) != 0, row.hidden);
            EXPECT_EQ((c->flags & res::kDefaultButton) != 0, row.id == 1);
            EXPECT_EQ(c->flags & res::kDisabled, 0u);
            EXPECT_EQ((c->flags & res::kReadOnly) != 0, row.kind == Kind::EditField);
        }
        for (const Frame& f : table.frames) {
            const res::Control* g = nullptr;
            for (const res::Control& c : layout->controls)
                if (c.kind == Kind::GroupBox && c.caption == f.caption) g = &c;
            ASSERT_NE(g, nullptr) << f.caption;
            EXPECT_EQ(g->id, res::kNoId);
            EXPECT_EQ(FrameOf(*layout, *g), f.outer) << f.caption;
        }
    }
}

// Radios framed by one group box form one exclusive group; other boxes, other groups.
TEST_F(LayoutDialogsTest, RadioGroupsFollowTheGroupBoxes) {
    for (const Table& table : Tables()) {
        const res::Layout& layout = *res::FindLayout(table.layout_id);
        std::map<std::string, int> group_of_frame;
        std::map<int, std::string> frame_of_group;
        for (const Row& row : table.rows) {
            if (row.kind != Kind::RadioButton) continue;
            const res::Control* c = Find(layout, row);
            ASSERT_NE(c, nullptr);
            EXPECT_NE(c->group, 0) << row.id;
            EXPECT_EQ(group_of_frame.emplace(row.frame, c->group).first->second, c->group)
                << table.layout_id << " " << row.id;
            EXPECT_EQ(frame_of_group.emplace(c->group, row.frame).first->second, row.frame)
                << table.layout_id << " " << row.id;
        }
    }
}

// Each read-only field sits right of its bar, on the bar's line.
TEST_F(LayoutDialogsTest, FieldsRightOfTheirBars) {
    const std::pair<int, std::pair<int, int>> pairs[] = {
        {res::kLayoutAdjust2D3D, {adjust2d3d::kParallaxBar, adjust2d3d::kParallaxField}},
        {res::kLayoutAdjust2D3D, {adjust2d3d::kIntensityBar, adjust2d3d::kIntensityField}},
        {res::kLayoutAdjust2D3D, {adjust2d3d::kSubIntensityBar, adjust2d3d::kSubIntensityField}},
        {res::kLayoutAdjustSdiLr, {adjust_sdilr::kSplitBar, adjust_sdilr::kSplitField}},
        {res::kLayoutScope, {scope::kWfmBar, scope::kWfmField}},
        {res::kLayoutScope, {scope::kVectorBar, scope::kVectorField}}};
    for (const auto& [layout_id, ids] : pairs) {
        const res::Layout& layout = *res::FindLayout(layout_id);
        const res::Control* bar = Find(layout, ids.first);
        const res::Control* field = Find(layout, ids.second);
        ASSERT_TRUE(bar && field);
        EXPECT_GE(field->x, bar->x + bar->w) << ids.second;
        EXPECT_LT(field->y, bar->y + bar->h) << ids.second;
        EXPECT_GT(field->y + field->h, bar->y) << ids.second;
    }
}

// OFF alone on the first row; the three display modes left to right on the second.
TEST_F(LayoutDialogsTest, ModeRadiosInTwoRows) {
    // Both adjust layouts give their mode radios the same ids.
    for (int layout_id : {res::kLayoutAdjust2D3D, res::kLayoutAdjustSdiLr}) {
        const res::Layout& layout = *res::FindLayout(layout_id);
        const res::Control* off = Find(layout, adjust2d3d::kOff);
        ASSERT_NE(off, nullptr);
        int left = -1;
        for (int id : {adjust2d3d::kStandard, adjust2d3d::kAnaglyph, adjust2d3d::kLrSequential}) {
            const res::Control* c = Find(layout, id);
            ASSERT_NE(c, nullptr);
            EXPECT_GE(c->y, off->y + off->h) << id;
            EXPECT_EQ(c->y, Find(layout, adjust2d3d::kStandard)->y) << id;
            EXPECT_GT(c->x, left) << id;
            left = c->x + c->w - 1;
        }
    }
}

// The slot buttons "1" to "10" in one row each, SAVE above LOAD, numbered left to right.
TEST_F(LayoutDialogsTest, SlotButtonsInTwoNumberedRows) {
    const res::Layout& layout = res::Adjust2D3DLayout();
    for (int first : {adjust2d3d::kSave1, adjust2d3d::kLoad1}) {
        int left = -1;
        for (int id = first; id < first + 10; ++id) {
            const res::Control* c = Find(layout, id);
            ASSERT_NE(c, nullptr);
            EXPECT_EQ(c->y, Find(layout, first)->y) << id;
            EXPECT_GT(c->x, left) << id;
            left = c->x + c->w - 1;
        }
    }
    EXPECT_GT(Find(layout, adjust2d3d::kLoad1)->y, Find(layout, adjust2d3d::kSave1)->y);
}

// The position radios sit in a square as their screen corners; their codes do not matter here.
TEST_F(LayoutDialogsTest, PositionRadiosFormTheScreenCorners) {
    const res::Layout& layout = res::ScopeLayout();
    const res::Control* lu = Find(layout, scope::kLeftUpper);
    const res::Control* ru = Find(layout, scope::kRightUpper);
    const res::Control* ll = Find(layout, scope::kLeftLower);
    const res::Control* rl = Find(layout, scope::kRightLower);
    ASSERT_TRUE(lu && ru && ll && rl);
    EXPECT_EQ(lu->y, ru->y);
    EXPECT_EQ(ll->y, rl->y);
    EXPECT_GE(ll->y, lu->y + lu->h);
    EXPECT_EQ(lu->x, ll->x);
    EXPECT_EQ(ru->x, rl->x);
    EXPECT_GE(ru->x, lu->x + lu->w);
}

// The exit buttons at the bottom, below every group box.
TEST_F(LayoutDialogsTest, ExitButtonsBelowEverything) {
    for (const Table& table : Tables()) {
        const res::Layout& layout = *res::FindLayout(table.layout_id);
        for (int id : {res::kIdOk, res::kIdCancel}) {
            const res::Control* button = Find(layout, id);
            ASSERT_NE(button, nullptr);
            for (const res::Control& c : layout.controls) {
                if (c.id != 1 && c.id != 2) {
                    EXPECT_GE(button->y, c.y + c.h) << table.layout_id << " " << c.caption;
                }
            }
        }
    }
}

TEST_F(LayoutDialogsTest, ReadOnlyFieldRightOfTheBarAndNoteBelowRotate) {
    const res::Layout& layout = res::FunctionLayout();
    const res::Control* bar = Find(layout, function::kBackLightBar);
    const res::Control* field = Find(layout, function::kBackLightField);
    ASSERT_TRUE(bar && field);
    EXPECT_TRUE(field->flags & res::kReadOnly);
    EXPECT_GE(field->x, bar->x + bar->w);
    const res::Control* note = nullptr;
    const res::Control* rotate = nullptr;
    for (const res::Control& c : layout.controls) {
        if (c.kind == Kind::StaticText) note = &c;
        if (c.kind == Kind::GroupBox && c.caption == kRotate) rotate = &c;
    }
    ASSERT_TRUE(note && rotate);
    EXPECT_GE(note->y, rotate->y + rotate->h);
    for (const res::Control& c : layout.controls) {
        if (c.kind == Kind::GroupBox && &c != rotate) {
            EXPECT_GE(c.y, note->y + note->h) << c.caption;
        }
    }
}

// The output groups are stacked SDI, HDMI, formats; the formats one per line.
TEST_F(LayoutDialogsTest, OutputGroupsStackedAndFormatsOnePerLine) {
    const res::Layout& layout = res::OutputPresetLayout();
    std::vector<int> tops;
    for (const res::Control& c : layout.controls)
        if (c.kind == Kind::GroupBox) tops.push_back(c.y);
    ASSERT_EQ(tops.size(), 3u);
    EXPECT_LT(tops[0], tops[1]);
    EXPECT_LT(tops[1], tops[2]);
    int last_bottom = 0;
    for (int id : {output_preset::kLineByLine, output_preset::kSideBySide, output_preset::kAboveBelow,
                   output_preset::kCheckerBoard}) {
        const res::Control* c = Find(layout, id);
        ASSERT_NE(c, nullptr);
        EXPECT_GE(c->y, last_bottom) << id;
        last_bottom = c->y + c->h;
    }
}

// On screen: visible controls other than group boxes do not overlap, everything lies
// inside the dialog, and captions fit their controls.
TEST_F(LayoutDialogsTest, BuiltDialogsShowEveryCaptionWhole) {
    for (const Table& table : Tables()) {
        auto dialog = Make(table.layout_id);
        SCOPED_TRACE(table.title);
        const QRect inside = dialog->rect();
        std::vector<QWidget*> controls;
        for (QWidget* w : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w->isHidden()) continue;
            EXPECT_TRUE(inside.contains(w->geometry())) << ui::ControlId(w);
            if (!qobject_cast<QGroupBox*>(w)) controls.push_back(w);
        }
        for (std::size_t i = 0; i < controls.size(); ++i)
            for (std::size_t j = i + 1; j < controls.size(); ++j)
                EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                    << ui::ControlId(controls[i]) << " and " << ui::ControlId(controls[j]);
        for (QWidget* w : dialog->findChildren<QWidget*>()) {
            const QFontMetrics fm(w->font());
            QString text;
            int room = w->width();
            if (auto* label = qobject_cast<QLabel*>(w)) {
                text = label->text();
            } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
                text = radio->text();
                QStyleOptionButton option;
                option.initFrom(radio);
                room -= radio->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, radio).width() +
                        radio->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, &option, radio);
            } else if (auto* button = qobject_cast<QPushButton*>(w)) {
                text = button->text();
                room -= 4;
            } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
                text = group->title();
                room -= 16;
            }
            if (text.isEmpty()) continue;
            EXPECT_LE(fm.horizontalAdvance(text), room) << "\"" << text.toStdString() << "\"";
            EXPECT_LE(fm.height(), w->height() + 2) << "\"" << text.toStdString() << "\"";
        }
    }
}

// The frame a group box draws, in the dialog's coordinates: below its caption. The style
// option comes from a stand-in box with the same caption, font, style sheet and size, since
// QGroupBox fills it only for itself.
struct ProbeBox : QGroupBox {
    explicit ProbeBox(const QGroupBox* like) : QGroupBox(like->title()) {
        setFont(like->font());
        setStyleSheet(like->styleSheet());
        resize(like->size());
        ensurePolished();
    }
    QStyleOptionGroupBox Option() const {
        QStyleOptionGroupBox option;
        initStyleOption(&option);
        return option;
    }
};
QRect DrawnFrame(const QGroupBox* box) {
    const ProbeBox probe(box);
    const QStyleOptionGroupBox option = probe.Option();
    const QRect frame = probe.style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, &probe);
    return frame.translated(box->pos());
}

// Every control lies inside the frame its group box draws, clear of the frame line, so no
// caption or frame line runs through a control.
TEST_F(LayoutDialogsTest, ControlsClearOfTheFramesAndCaptions) {
    for (const Table& table : Tables()) {
        auto dialog = Make(table.layout_id);
        SCOPED_TRACE(table.layout_id);
        const res::Layout& layout = dialog->layout();
        std::vector<std::pair<const res::Control*, QGroupBox*>> frames;
        auto boxes = dialog->findChildren<QGroupBox*>();
        for (const res::Control& c : layout.controls) {
            if (c.kind != Kind::GroupBox) continue;
            for (QGroupBox* box : boxes)
                if (box->title() == QString::fromUtf8(c.caption.data(), static_cast<qsizetype>(c.caption.size())))
                    frames.push_back({&c, box});
        }
        for (const res::Control& c : layout.controls) {
            QWidget* w = c.id == res::kNoId ? nullptr : ui::FindControl(dialog.get(), c.id);
            if ((w && w->isHidden()) || (!w && c.kind != Kind::GroupBox)) continue;
            for (const auto& [g, box] : frames) {
                if (g == &c || !Encloses(*g, c)) continue;
                const QRect inner = DrawnFrame(box).adjusted(1, 1, -1, -1);
                QRect r;
                if (w) {
                    r = w->geometry();
                } else {  // a nested group box: its caption must clear the outer frame line
                    for (const auto& [g2, box2] : frames)
                        if (g2 == &c) r = box2->geometry();
                }
                EXPECT_TRUE(inner.contains(r)) << "control " << c.id << " \"" << c.caption
                                               << "\" in \"" << g->caption << "\"";
            }
        }
    }
}

}  // namespace
}  // namespace dpx
