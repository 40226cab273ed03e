// The layout builder on the real panel and version box layouts, offscreen: controls found by
// id with the widget class of their kind, geometry from dialog units of the layout font
// (IPAPGothic through the substitution on Linux), hidden and disabled flags, exclusive radio groups,
// notifying pictures, and captions that fit their controls.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

#include "resources/Layout.h"
#include "resources/PanelIds.h"
#include "resources/VersionBoxIds.h"
#include "tests/support/TestApp.h"
#include "ui/LayoutDialog.h"

namespace dpx::ui {
namespace {

using namespace res::panel;

class BuilderTest : public ::testing::Test {
protected:
    void SetUp() override { test::TestApp(); }
};

QString Text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The layout's face, or where it is missing one of the faces that stand in for it (IPAPGothic
// on Linux; on Windows whichever the machine has), never a fallback with other metrics. Qt
// keeps the stand-ins in lower case.
TEST_F(BuilderTest, LayoutFontIsItsFaceOrAStandIn) {
    LayoutDialog panel(res::kLayoutPanel);
    const QString face = Text(res::kLayoutFont);
    const QString family = QFontInfo(panel.font()).family();
    EXPECT_TRUE(family == face || QFont::substitutes(face).contains(family, Qt::CaseInsensitive)) << family.toStdString();
    EXPECT_EQ(panel.font().pointSize(), 9);
    EXPECT_EQ(panel.windowTitle(), "ZR-DPX20 Remote");
}

TEST_F(BuilderTest, EveryControlIsBuiltWithItsIdKindAndRectangle) {
    for (int layout_id : {res::kLayoutPanel, res::kLayoutVersionBox}) {
        LayoutDialog dialog(layout_id);
        const DialogUnits units = dialog.units();
        EXPECT_GE(units.base_x, DialogUnitsOf(dialog.font()).base_x);
        EXPECT_EQ(units.base_y, DialogUnitsOf(dialog.font()).base_y);
        EXPECT_EQ(dialog.size(), units.Map(0, 0, dialog.layout().w, dialog.layout().h).size());
        for (const res::Control& c : dialog.layout().controls) {
            if (c.id == res::kNoId) continue;
            QWidget* w = FindControl(&dialog, c.id);
            ASSERT_NE(w, nullptr) << c.id;
            EXPECT_EQ(ControlId(w), c.id);
            switch (c.kind) {
                case res::Kind::CheckBox:
                    ASSERT_TRUE(qobject_cast<QCheckBox*>(w)) << c.id;
                    EXPECT_EQ(qobject_cast<QCheckBox*>(w)->text(), Text(c.caption));
                    break;
                case res::Kind::RadioButton: ASSERT_TRUE(qobject_cast<QRadioButton*>(w)) << c.id; break;
                case res::Kind::PushButton:
                    ASSERT_TRUE(qobject_cast<QPushButton*>(w)) << c.id;
                    EXPECT_EQ(qobject_cast<QPushButton*>(w)->text(), Text(c.caption));
                    break;
                case res::Kind::EditField: ASSERT_TRUE(qobject_cast<QLineEdit*>(w)) << c.id; break;
                case res::Kind::Picture: ASSERT_TRUE(qobject_cast<QLabel*>(w)) << c.id; break;
                default: break;
            }
            if (c.kind != res::Kind::Picture && c.kind != res::Kind::Icon)
                EXPECT_EQ(w->geometry(), units.Map(c.x, c.y, c.w, c.h)) << c.id;
            else
                EXPECT_EQ(w->pos(), units.Map(c.x, c.y, c.w, c.h).topLeft()) << c.id;
        }
    }
}

TEST_F(BuilderTest, SizesGrowWithTheFont) {
    QFont small(Text(res::kLayoutFont));
    small.setPointSize(9);
    QFont large = small;
    large.setPointSize(18);
    const DialogUnits a = DialogUnitsOf(small), b = DialogUnitsOf(large);
    EXPECT_GT(b.base_x, a.base_x);
    EXPECT_GT(b.base_y, a.base_y);
    QWidget host_a, host_b;
    BuildControls(&host_a, res::PanelLayout(), a);
    BuildControls(&host_b, res::PanelLayout(), b);
    const QRect ra = FindControl(&host_a, kVirtualMode)->geometry();
    const QRect rb = FindControl(&host_b, kVirtualMode)->geometry();
    EXPECT_GT(rb.width(), ra.width() * 3 / 2);
    EXPECT_GT(rb.left(), ra.left() * 3 / 2);
    // Adjacent rectangles tile: COM 1 ends where COM 2 begins less their 1-unit overlap.
    EXPECT_EQ(a.X(14 + 9), FindControl(&host_a, kComPort1)->geometry().right() + 1);
}

TEST_F(BuilderTest, FlagsHiddenDisabledDefaultTextLeftReadOnly) {
    LayoutDialog panel(res::kLayoutPanel);
    panel.show();
    EXPECT_FALSE(FindControl(&panel, kDebugBox)->isVisible());
    EXPECT_FALSE(FindControl(&panel, kDebugBox)->isEnabled());
    EXPECT_FALSE(FindControl(&panel, kLogo)->isVisible());
    for (const res::Control& c : panel.layout().controls)
        if (c.id != res::kNoId && !(c.flags & res::kHidden)) {
            EXPECT_TRUE(FindControl(&panel, c.id)->isVisible()) << c.id;
            EXPECT_TRUE(FindControl(&panel, c.id)->isEnabled()) << c.id;
        }
    EXPECT_TRUE(Control<QPushButton>(&panel, kExit)->isDefault());
    EXPECT_FALSE(Control<QPushButton>(&panel, kVersionInfo)->isDefault());
    EXPECT_EQ(FindControl(&panel, kScope)->layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(FindControl(&panel, kAdjustMode)->layoutDirection(), Qt::LeftToRight);
    EXPECT_TRUE(Control<QLineEdit>(&panel, kDebugField)->isReadOnly());
    // All check boxes off and no COM port selected at the start.
    for (auto* box : panel.findChildren<QCheckBox*>()) EXPECT_FALSE(box->isChecked()) << ControlId(box);
    for (int id = kComPort1; id <= kComPort8; ++id) EXPECT_FALSE(IsRadioSelected(&panel, id));
}

TEST_F(BuilderTest, ComPortRadiosAreExclusiveAndCanBeAllDeselected) {
    LayoutDialog panel(res::kLayoutPanel);
    panel.show();
    SelectRadio(&panel, kComPort1);
    SelectRadio(&panel, kComPort4);
    EXPECT_FALSE(IsRadioSelected(&panel, kComPort1));
    EXPECT_TRUE(IsRadioSelected(&panel, kComPort4));
    auto* com7 = Control<QRadioButton>(&panel, kComPort7);
    QTest::mouseClick(com7, Qt::LeftButton, {}, com7->rect().center());
    EXPECT_TRUE(IsRadioSelected(&panel, kComPort7));
    EXPECT_FALSE(IsRadioSelected(&panel, kComPort4));
    DeselectRadio(&panel, kComPort7);
    for (int id = kComPort1; id <= kComPort8; ++id) EXPECT_FALSE(IsRadioSelected(&panel, id)) << id;
    // A click on a selected radio leaves it selected.
    SelectRadio(&panel, kComPort2);
    auto* com2 = Control<QRadioButton>(&panel, kComPort2);
    QTest::mouseClick(com2, Qt::LeftButton, {}, com2->rect().center());
    EXPECT_TRUE(IsRadioSelected(&panel, kComPort2));
}

TEST_F(BuilderTest, CornerPictureReportsClicksAndLogoDoesNot) {
    LayoutDialog panel(res::kLayoutPanel);
    panel.show();
    auto* corner = Control<QLabel>(&panel, kCornerPicture);
    ASSERT_NE(corner, nullptr);
    EXPECT_EQ(corner->size(), QSize(41, 40));
    EXPECT_EQ(Control<QLabel>(&panel, kLogo)->size(), QSize(68, 30));
    int clicks = 0;
    EXPECT_TRUE(OnPictureClicked(&panel, kCornerPicture, [&] { ++clicks; }));
    EXPECT_FALSE(OnPictureClicked(&panel, kLogo, [&] { ++clicks; }));
    QTest::mouseClick(corner, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(clicks, 1);
    QTest::mouseClick(corner, Qt::RightButton, {}, QPoint(20, 20));
    EXPECT_EQ(clicks, 1);
}

TEST_F(BuilderTest, ExitAcceptsAndEscapeRejects) {
    {
        LayoutDialog panel(res::kLayoutPanel);
        panel.show();
        Control<QPushButton>(&panel, kExit)->click();
        EXPECT_EQ(panel.result(), QDialog::Accepted);
        EXPECT_FALSE(panel.isVisible());
    }
    {
        LayoutDialog box(res::kLayoutVersionBox);
        box.show();
        QTest::keyClick(&box, Qt::Key_Escape);
        EXPECT_EQ(box.result(), QDialog::Rejected);
        EXPECT_FALSE(box.isVisible());
    }
    {
        LayoutDialog box(res::kLayoutVersionBox);
        box.show();
        box.activateWindow();
        QTest::keyClick(&box, Qt::Key_Return);
        EXPECT_EQ(box.result(), QDialog::Accepted);
    }
}

TEST_F(BuilderTest, VersionBoxShowsIconTextAndOk) {
    LayoutDialog box(res::kLayoutVersionBox);
    EXPECT_EQ(box.windowTitle(), "ZR-DPX20 Remote : Version Infomation");
    QLabel* icon = nullptr;
    QLabel* text = nullptr;
    for (auto* label : box.findChildren<QLabel*>()) {
        if (!label->pixmap().isNull()) icon = label;
        else if (label->text() == "dpx20remote  Version 1.0.0") text = label;
    }
    ASSERT_NE(icon, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(icon->pixmap().size(), QSize(32, 32));
    EXPECT_TRUE(Control<QPushButton>(&box, res::version_box::kOk)->isDefault());
}

// Text that does not fit its control is clipped on screen. Captions are held against the
// control's own width (check boxes and radios less their indicator).
TEST_F(BuilderTest, CaptionsFitTheirControls) {
    for (int layout_id : {res::kLayoutPanel, res::kLayoutVersionBox}) {
        LayoutDialog dialog(layout_id);
        for (QWidget* w : dialog.findChildren<QWidget*>()) {
            const QFontMetrics fm(w->font());
            QString text;
            int room = w->width();
            if (auto* label = qobject_cast<QLabel*>(w)) {
                text = label->text();
            } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
                text = box->text();
                QStyleOptionButton option;
                option.initFrom(box);
                room -= box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).width() +
                        box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, box);
            } else if (auto* button = qobject_cast<QPushButton*>(w)) {
                text = button->text();
                room -= 4;  // the frame
            } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
                text = group->title();
                room -= 16;
            }
            if (text.isEmpty()) continue;
            EXPECT_LE(fm.horizontalAdvance(text), room) << layout_id << " \"" << text.toStdString() << "\"";
            EXPECT_LE(fm.height(), w->height() + 2) << layout_id << " \"" << text.toStdString() << "\"";
        }
    }
}

}  // namespace
}  // namespace dpx::ui
