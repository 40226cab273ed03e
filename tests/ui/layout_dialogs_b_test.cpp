// The function, input select and output preset layouts held against their control tables:
// ids, captions, kinds, the group box that frames each control, exclusive radio groups,
// hidden controls and the default button; then the built dialogs: nothing overlaps, nothing
// sticks out, every caption fits. With DPX20_SCREENSHOT_DIR set, each dialog is also saved
// there as a PNG.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/FunctionDialog.h"
#include "dialogs/InputSelectDialog.h"
#include "dialogs/OutputPresetDialog.h"
#include "link/RS232c_bios.h"
#include "resources/Layout.h"
#include "tests/support/Recorders.h"
#include "ui/LayoutDialog.h"

namespace dpx {
namespace {

using res::Kind;

QApplication& App() {
    static int argc = 1;
    static char name[] = "layout_dialogs_b_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        ui::InstallFontSubstitution();
        return a;
    }();
    return *app;
}

// One row of a control table. `frame` is the caption of the group box that encloses the
// control, empty when none does.
struct Row {
    int id;
    std::string caption;
    Kind kind;
    std::string frame;
    bool hidden = false;
};

struct Table {
    int layout_id;
    std::string title;
    std::vector<Row> rows;
    std::vector<std::string> frames;  // every group box caption
};

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
    {kRotate, "FRAME SYNCHRONIZER", "BEEP", "LCD BACK LIGHT", kMemory1, kMemory2},
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
    {"INPUT SELECT", "SDI-LR POLARITY"},
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
    {"SDI OUTPUT SELECT", "HDMI OUTPUT SELECT", "3D MIX FORMAT"},
};

const Table* const kTables[] = {&kFunction, &kInput, &kOutput};

bool Encloses(const res::Control& outer, const res::Control& inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

// The innermost group box of `layout` that encloses `c`, or nullptr.
const res::Control* FrameOf(const res::Layout& layout, const res::Control& c) {
    const res::Control* best = nullptr;
    for (const res::Control& g : layout.controls)
        if (g.kind == Kind::GroupBox && &g != &c && Encloses(g, c) && (!best || g.w * g.h < best->w * best->h))
            best = &g;
    return best;
}

const res::Control* Find(const res::Layout& layout, const Row& row) {
    for (const res::Control& c : layout.controls)
        if (c.id == row.id && c.kind == row.kind && (row.id != res::kNoId || c.caption == row.caption))
            return &c;
    return nullptr;
}

class LayoutTablesTest : public ::testing::Test {
protected:
    void SetUp() override { App(); }
};

TEST_F(LayoutTablesTest, EveryControlOfTheTablesAndNothingElse) {
    for (const Table* table : kTables) {
        const res::Layout* layout = res::FindLayout(table->layout_id);
        ASSERT_NE(layout, nullptr);
        SCOPED_TRACE(table->title);
        EXPECT_EQ(layout->caption, table->title);
        std::size_t frames = 0;
        for (const res::Control& c : layout->controls) frames += c.kind == Kind::GroupBox;
        EXPECT_EQ(frames, table->frames.size());
        EXPECT_EQ(layout->controls.size(), table->rows.size() + table->frames.size());
        for (const Row& row : table->rows) {
            SCOPED_TRACE(row.id);
            const res::Control* c = Find(*layout, row);
            ASSERT_NE(c, nullptr) << row.caption;
            EXPECT_EQ(c->caption, row.caption);
            EXPECT_EQ((c->flags & res::kHidden) != 0, row.hidden);
            EXPECT_EQ((c->flags & res::kDefaultButton) != 0, row.id == 1);
            EXPECT_EQ((c->flags & res::kDisabled) != 0, false);
            const res::Control* frame = FrameOf(*layout, *c);
            EXPECT_EQ(frame ? std::string(frame->caption) : std::string(), row.frame) << row.caption;
        }
    }
}

// Radios of one group box are one exclusive group; different boxes, different groups.
TEST_F(LayoutTablesTest, RadioGroupsFollowTheGroupBoxes) {
    for (const Table* table : kTables) {
        const res::Layout& layout = *res::FindLayout(table->layout_id);
        std::map<std::string, int> group_of_frame;
        std::map<int, std::string> frame_of_group;
        for (const Row& row : table->rows) {
            if (row.kind != Kind::RadioButton) continue;
            const res::Control* c = Find(layout, row);
            ASSERT_NE(c, nullptr);
            EXPECT_NE(c->group, 0) << row.id;
            auto [g, new_frame] = group_of_frame.emplace(row.frame, c->group);
            EXPECT_EQ(g->second, c->group) << table->title << " " << row.id;
            auto [f, new_group] = frame_of_group.emplace(c->group, row.frame);
            EXPECT_EQ(f->second, row.frame) << table->title << " " << row.id;
        }
    }
}

TEST_F(LayoutTablesTest, ReadOnlyFieldRightOfTheBarAndNoteBelowRotate) {
    const res::Layout& layout = res::FunctionLayout();
    const res::Control* bar = Find(layout, {1018, "", Kind::HScrollBar, ""});
    const res::Control* field = Find(layout, {1019, "", Kind::EditField, ""});
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
TEST_F(LayoutTablesTest, OutputGroupsStackedAndFormatsOnePerLine) {
    const res::Layout& layout = res::OutputPresetLayout();
    std::vector<int> tops;
    for (const res::Control& c : layout.controls)
        if (c.kind == Kind::GroupBox) tops.push_back(c.y);
    ASSERT_EQ(tops.size(), 3u);
    EXPECT_LT(tops[0], tops[1]);
    EXPECT_LT(tops[1], tops[2]);
    int last_bottom = 0;
    for (int id : {1027, 1028, 1029, 1030}) {
        const res::Control* c = Find(layout, {id, "", Kind::RadioButton, ""});
        ASSERT_NE(c, nullptr);
        EXPECT_GE(c->y, last_bottom) << id;
        last_bottom = c->y + c->h;
    }
}

std::unique_ptr<ui::LayoutDialog> Make(int layout_id) {
    switch (layout_id) {
        case res::kLayoutFunction: return std::make_unique<FunctionDialog>();
        case res::kLayoutInputSelect: return std::make_unique<InputSelectDialog>();
        default: return std::make_unique<OutputPresetDialog>();
    }
}

// On screen: visible controls other than group boxes do not overlap, everything lies
// inside the dialog, and captions fit their controls.
TEST_F(LayoutTablesTest, BuiltDialogsShowEveryCaptionWhole) {
    for (const Table* table : kTables) {
        auto dialog = Make(table->layout_id);
        SCOPED_TRACE(table->title);
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

// Not a check: saves each dialog, opened in virtual mode with typical values, as a PNG in
// $DPX20_SCREENSHOT_DIR for a look (run under a real display server for real rendering).
TEST_F(LayoutTablesTest, Screenshots) {
    const QString dir = qEnvironmentVariable("DPX20_SCREENSHOT_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "DPX20_SCREENSHOT_DIR not set";
    test::MessageRecorder messages;
    Link().SetVirtualMode(1);
    FunctionDialog function;
    function.SetValues(1, 1, 0, -12);
    InputSelectDialog input;
    input.SetValues(0, 1);
    OutputPresetDialog output;
    output.SetValues(0, 1, 3);
    const std::pair<ui::LayoutDialog*, const char*> shots[] = {
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
