// The layouts of the six control dialogs held against their control tables: ids, captions,
// kinds, the group box that frames each control, exclusive radio groups, hidden controls and
// the default button, read-only fields right of their bars, rows and corners; then the built
// dialogs: nothing overlaps, nothing sticks out, no control crosses a frame line, every
// caption fits. With DPX20_SCREENSHOT_DIR set, each dialog is also saved there as a PNG.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
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
#include "resources/Layout.h"
#include "tests/support/Recorders.h"
#include "tests/support/TestApp.h"
#include "ui/LayoutDialog.h"

namespace dpx {
namespace {

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
                {1010, "OFF", Kind::RadioButton, outer},
                {1011, "STANDARD", Kind::RadioButton, outer},
                {1012, "ANAGRYPH MODE", Kind::RadioButton, outer},
                {1013, "LR-SEQ. MODE", Kind::RadioButton, outer},
                {1035, "", Kind::HScrollBar, "PARALLAX"},
                {1019, "", Kind::EditField, "PARALLAX"},
                {1021, "", Kind::HScrollBar, "INTENSITY"},
                {1022, "", Kind::EditField, "INTENSITY"},
                {1036, "", Kind::HScrollBar, "SUB INT."},
                {1034, "", Kind::EditField, "SUB INT."},
                {1, "EXIT with ADJUST", Kind::PushButton, ""},
                {2, "EXIT w/o ADJUST", Kind::PushButton, ""},
            },
            {{outer, ""}, {"PARALLAX", outer}, {"INTENSITY", outer}, {"SUB INT.", outer},
             {"MEMORY ADJUST VALUE", outer}, {"SAVE", "MEMORY ADJUST VALUE"},
             {"LOAD", "MEMORY ADJUST VALUE"}}};
    for (int n = 1; n <= 10; ++n) {
        t.rows.push_back({1052 + n, std::to_string(n), Kind::PushButton, "SAVE"});
        t.rows.push_back({1062 + n, std::to_string(n), Kind::PushButton, "LOAD"});
    }
    return t;
}

Table AdjustSdiLrTable() {
    const std::string outer = "ADJUST MODE for SDI-LR Input";
    return {res::kLayoutAdjustSdiLr, "ADJUST CONTROL",
            {
                {1010, "OFF", Kind::RadioButton, outer},
                {1011, "SPLIT MODE", Kind::RadioButton, outer},
                {1012, "ANAGRYPH MODE", Kind::RadioButton, outer},
                {1013, "LR-SEQ. MODE", Kind::RadioButton, outer},
                {1020, "", Kind::HScrollBar, "SPLIT POSITION"},
                {1019, "", Kind::EditField, "SPLIT POSITION"},
                {1, "EXIT with ADJUST", Kind::PushButton, ""},
                {2, "EXIT w/o ADJUST", Kind::PushButton, ""},
            },
            {{outer, ""}, {"SPLIT POSITION", outer}}};
}

Table ScopeTable() {
    return {res::kLayoutScope, "SCOPE CONTROL",
            {
                {1040, "OFF", Kind::RadioButton, "SCOPE MODE"},
                {1041, "W. F. M.", Kind::RadioButton, "SCOPE MODE"},
                {1042, "VECTOR SCOPE", Kind::RadioButton, "SCOPE MODE"},
                {1043, "PARALLEL", Kind::RadioButton, "SCOPE SIGNAL"},
                {1044, "BALANCE", Kind::RadioButton, "SCOPE SIGNAL"},
                {1045, "IN1", Kind::RadioButton, "SCOPE SIGNAL"},
                {1046, "IN2", Kind::RadioButton, "SCOPE SIGNAL"},
                {1019, "LEFT UPPER", Kind::RadioButton, "SCOPE POSITION"},
                {1020, "RIGHT UPPER", Kind::RadioButton, "SCOPE POSITION"},
                {1018, "LEFT LOWER", Kind::RadioButton, "SCOPE POSITION"},
                {1017, "RIGHT LOWER", Kind::RadioButton, "SCOPE POSITION"},
                {1021, "FLAT", Kind::RadioButton, "SCOPE FILTER"},
                {1022, "LOW PASS", Kind::RadioButton, "SCOPE FILTER"},
                {1027, "", Kind::HScrollBar, "W.F.M. GAIN"},
                {1028, "", Kind::EditField, "W.F.M. GAIN"},
                {1031, "", Kind::HScrollBar, "VECTOR SCOPE GAIN"},
                {1032, "", Kind::EditField, "VECTOR SCOPE GAIN"},
                {1, "EXIT with SCOPE", Kind::PushButton, ""},
                {2, "EXIT w/o SCOPE", Kind::PushButton, ""},
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
        {1010, "OFF", Kind::RadioButton, kRotate},
        {1011, "SDI-1(L) ROTATE", Kind::RadioButton, kRotate},
        {1012, "SDI-2(R) ROTATE", Kind::RadioButton, kRotate},
        {1017, "SDI-1(L) H. MIRROR", Kind::RadioButton, kRotate, true},
        {1020, "SDI-2(R) H. MIRROR", Kind::RadioButton, kRotate, true},
        {1021, "SDI-1(L) V. MIRROR", Kind::RadioButton, kRotate, true},
        {1022, "SDI-2(R) V. MIRROR", Kind::RadioButton, kRotate, true},
        {res::kNoId, "*. MIRROR functions only suppot ZR-DPX20 limited firmware.", Kind::StaticText, "", true},
        {1013, "OFF", Kind::RadioButton, "FRAME SYNCHRONIZER"},
        {1014, "ON", Kind::RadioButton, "FRAME SYNCHRONIZER"},
        {1015, "OFF", Kind::RadioButton, "BEEP"},
        {1016, "ON", Kind::RadioButton, "BEEP"},
        {1018, "", Kind::HScrollBar, "LCD BACK LIGHT"},
        {1019, "", Kind::EditField, "LCD BACK LIGHT"},
        {1000, "SAVE", Kind::PushButton, kMemory1},
        {1001, "LOAD", Kind::PushButton, kMemory1},
        {1002, "SAVE", Kind::PushButton, kMemory2},
        {1003, "LOAD", Kind::PushButton, kMemory2},
        {1, "EXIT", Kind::PushButton, ""},
        {2, "CANCEL (not used)", Kind::PushButton, "", true},
    },
    {{kRotate, ""}, {"FRAME SYNCHRONIZER", ""}, {"BEEP", ""}, {"LCD BACK LIGHT", ""}, {kMemory1, ""}, {kMemory2, ""}},
};

const Table kInput{
    res::kLayoutInputSelect,
    "INPUT SELECT",
    {
        {1010, "SDI-1(L)", Kind::RadioButton, "INPUT SELECT"},
        {1011, "SDI-2(R)", Kind::RadioButton, "INPUT SELECT"},
        {1012, "HDMI", Kind::RadioButton, "INPUT SELECT"},
        {1013, "SDI-LR", Kind::RadioButton, "INPUT SELECT"},
        {1014, "NORMAL", Kind::RadioButton, "SDI-LR POLARITY"},
        {1015, "INVERT", Kind::RadioButton, "SDI-LR POLARITY"},
        {1, "EXIT", Kind::PushButton, ""},
        {2, "CANCEL (not used)", Kind::PushButton, "", true},
    },
    {{"INPUT SELECT", ""}, {"SDI-LR POLARITY", ""}},
};

const Table kOutput{
    res::kLayoutOutputPreset,
    "OUTPUT PRESET",
    {
        {1023, "MIX", Kind::RadioButton, "SDI OUTPUT SELECT"},
        {1025, "INDIVIDUAL", Kind::RadioButton, "SDI OUTPUT SELECT"},
        {1024, "MIX", Kind::RadioButton, "HDMI OUTPUT SELECT"},
        {1026, "INDIVIDUAL", Kind::RadioButton, "HDMI OUTPUT SELECT"},
        {1027, "LINE BY LINE", Kind::RadioButton, "3D MIX FORMAT"},
        {1028, "SIDE BY SIDE H", Kind::RadioButton, "3D MIX FORMAT"},
        {1029, "ABOVE-BELOW (MIX output Only)", Kind::RadioButton, "3D MIX FORMAT"},
        {1030, "CHECKER BOARD", Kind::RadioButton, "3D MIX FORMAT"},
        {1, "EXIT", Kind::PushButton, ""},
        {2, "CANCEL (not used)", Kind::PushButton, "", true},
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

std::unique_ptr<ui::LayoutDialog> Make(int layout_id) {
    switch (layout_id) {
        case res::kLayoutAdjust2D3D: return std::make_unique<Adjust2D3DDialog>();
        case res::kLayoutAdjustSdiLr: return std::make_unique<AdjustSdiLrDialog>();
        case res::kLayoutScope: return std::make_unique<ScopeDialog>();
        case res::kLayoutFunction: return std::make_unique<FunctionDialog>();
        case res::kLayoutInputSelect: return std::make_unique<InputSelectDialog>();
        default: return std::make_unique<OutputPresetDialog>();
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
        {res::kLayoutAdjust2D3D, {1035, 1019}}, {res::kLayoutAdjust2D3D, {1021, 1022}},
        {res::kLayoutAdjust2D3D, {1036, 1034}}, {res::kLayoutAdjustSdiLr, {1020, 1019}},
        {res::kLayoutScope, {1027, 1028}},      {res::kLayoutScope, {1031, 1032}}};
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
    for (int layout_id : {res::kLayoutAdjust2D3D, res::kLayoutAdjustSdiLr}) {
        const res::Layout& layout = *res::FindLayout(layout_id);
        const res::Control* off = Find(layout, 1010);
        ASSERT_NE(off, nullptr);
        int left = -1;
        for (int id : {1011, 1012, 1013}) {
            const res::Control* c = Find(layout, id);
            ASSERT_NE(c, nullptr);
            EXPECT_GE(c->y, off->y + off->h) << id;
            EXPECT_EQ(c->y, Find(layout, 1011)->y) << id;
            EXPECT_GT(c->x, left) << id;
            left = c->x + c->w - 1;
        }
    }
}

// The slot buttons "1" to "10" in one row each, SAVE above LOAD, numbered left to right.
TEST_F(LayoutDialogsTest, SlotButtonsInTwoNumberedRows) {
    const res::Layout& layout = res::Adjust2D3DLayout();
    for (int first : {1053, 1063}) {
        int left = -1;
        for (int id = first; id < first + 10; ++id) {
            const res::Control* c = Find(layout, id);
            ASSERT_NE(c, nullptr);
            EXPECT_EQ(c->y, Find(layout, first)->y) << id;
            EXPECT_GT(c->x, left) << id;
            left = c->x + c->w - 1;
        }
    }
    EXPECT_GT(Find(layout, 1063)->y, Find(layout, 1053)->y);
}

// The position radios sit in a square as their screen corners; their codes do not matter here.
TEST_F(LayoutDialogsTest, PositionRadiosFormTheScreenCorners) {
    const res::Layout& layout = res::ScopeLayout();
    const res::Control* lu = Find(layout, 1019);
    const res::Control* ru = Find(layout, 1020);
    const res::Control* ll = Find(layout, 1018);
    const res::Control* rl = Find(layout, 1017);
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
        for (int id : {1, 2}) {
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
    const res::Control* bar = Find(layout, 1018);
    const res::Control* field = Find(layout, 1019);
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
    for (int id : {1027, 1028, 1029, 1030}) {
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

// Not a check: saves each dialog, opened in virtual mode with typical values, as a PNG in
// $DPX20_SCREENSHOT_DIR for a look (run under a real display server for real rendering).
TEST_F(LayoutDialogsTest, Screenshots) {
    const QString dir = qEnvironmentVariable("DPX20_SCREENSHOT_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "DPX20_SCREENSHOT_DIR not set";
    test::MessageRecorder messages;
    Link().SetVirtualMode(1);
    Adjust2D3DDialog adjust;
    adjust.SetValues(4, 13, 23, 40);
    AdjustSdiLrDialog sdilr;
    sdilr.SetValues(1, -15);
    ScopeDialog scope;
    scope.SetValues(1, 2, 2, 0, -12, 30);
    FunctionDialog function;
    function.SetValues(1, 1, 0, -12);
    InputSelectDialog input;
    input.SetValues(0, 1);
    OutputPresetDialog output;
    output.SetValues(0, 1, 3);
    const std::pair<ui::LayoutDialog*, const char*> shots[] = {
        {&adjust, "dialog_adjust2d3d.png"}, {&sdilr, "dialog_sdilr.png"}, {&scope, "dialog_scope.png"},
        {&function, "dialog_function.png"}, {&input, "dialog_input.png"}, {&output, "dialog_output.png"}};
    for (auto [dialog, file] : shots) {
        dialog->show();
        QApplication::processEvents();
        EXPECT_TRUE(dialog->grab().save(QDir(dir).filePath(file))) << file;
        dialog->hide();
    }
    Link().SetVirtualMode(0);
    EXPECT_TRUE(messages.texts.empty());
}

}  // namespace
}  // namespace dpx
