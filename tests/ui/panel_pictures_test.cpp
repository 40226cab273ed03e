// What the panel shows besides its controls: the corner picture taking the window colour,
// the hidden logo, the window icon and the COM port tool tips.
#include "tests/ui/panel_fixture.h"

#include <QLabel>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPixmap>

#include "platform/ComPorts.h"
#include "ui/Pictures.h"

namespace dpx::test {
namespace {

using namespace panel;

class PicturesTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        WriteOptions(SettingsRecord{});
        Start();
        const QImage original = ui::CornerPicture();
        for (int y = 0; y < original.height() && grey_.x() < 0; ++y)
            for (int x = 0; x < original.width(); ++x)
                if (original.pixel(x, y) == ui::kLightGrey) {
                    grey_ = QPoint(x, y);
                    break;
                }
        for (int y = 0; y < original.height() && stroke_.x() < 0; ++y)
            for (int x = 0; x < original.width(); ++x)
                if (original.pixel(x, y) != ui::kLightGrey) {
                    stroke_ = QPoint(x, y);
                    stroke_colour_ = original.pixel(x, y);
                    break;
                }
    }
    void SetWindowColour(const QColor& colour) {
        QPalette palette = panel_->palette();
        palette.setColor(QPalette::Window, colour);
        panel_->setPalette(palette);
    }
    QImage Shown() const {
        auto* picture = ui::Control<QLabel>(panel_.get(), kCornerPicture);
        return picture ? picture->pixmap().toImage() : QImage();
    }
    void MouseMoveOver(QWidget* widget) {
        QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    }

    QPoint grey_{-1, -1};
    QPoint stroke_{-1, -1};
    QRgb stroke_colour_ = 0;
};

TEST_F(PicturesTest, CornerPictureTakesTheWindowColourOnTheFirstMouseMove) {
    ASSERT_GE(grey_.x(), 0);
    ASSERT_GE(stroke_.x(), 0);
    const QColor blue(30, 100, 160);
    SetWindowColour(blue);
    EXPECT_EQ(Shown().pixel(grey_), ui::kLightGrey);  // nothing changes by itself

    MouseMoveOver(Button(kFunction));
    EXPECT_EQ(panel_->window_bg_color, blue);
    EXPECT_EQ(Shown().pixel(grey_), blue.rgb());
    EXPECT_EQ(Shown().pixel(stroke_), stroke_colour_);  // the strokes stay as drawn
}

TEST_F(PicturesTest, MovingThePanelRecolours) {
    const QColor green(40, 160, 60);
    SetWindowColour(green);
    QMoveEvent move(QPoint(50, 50), QPoint(0, 0));
    QApplication::sendEvent(panel_.get(), &move);
    EXPECT_EQ(Shown().pixel(grey_), green.rgb());
}

TEST_F(PicturesTest, WhiteWindowIsIgnored) {
    SetWindowColour(Qt::white);
    MouseMoveOver(panel_.get());
    EXPECT_EQ(panel_->window_bg_color, QColor(192, 192, 192));
    EXPECT_EQ(Shown().pixel(grey_), ui::kLightGrey);

    // A later colour is still taken, and a later white keeps it.
    SetWindowColour(QColor(90, 90, 20));
    MouseMoveOver(panel_.get());
    SetWindowColour(Qt::white);
    MouseMoveOver(panel_.get());
    EXPECT_EQ(panel_->window_bg_color, QColor(90, 90, 20));
    EXPECT_EQ(Shown().pixel(grey_), QColor(90, 90, 20).rgb());
}

TEST_F(PicturesTest, LogoStaysHiddenAndTheIconIsSet) {
    panel_->show();
    QApplication::processEvents();
    QWidget* logo = ui::FindControl(panel_.get(), kLogo);
    ASSERT_NE(logo, nullptr);
    EXPECT_FALSE(logo->isVisible());
    EXPECT_FALSE(panel_->windowIcon().isNull());
    EXPECT_EQ(panel_->windowTitle().toStdString(), "ZR-DPX20 Remote");
    panel_->hide();
}

TEST_F(PicturesTest, ComPortToolTipsNameTheDevices) {
    for (int n = 1; n <= 8; ++n) {
        QWidget* radio = ui::FindControl(panel_.get(), ComPortRadio(n));
        ASSERT_NE(radio, nullptr);
        const std::string tip = radio->toolTip().toStdString();
        EXPECT_EQ(tip, platform::DescribeComPort(n) + "\n(right-click to choose the device)");
        EXPECT_EQ(tip.rfind(platform::ComDeviceName(n), 0), 0u) << tip;
    }
}

TEST_F(PicturesTest, ComPortToolTipIsDescribedAfreshWhenShown) {
    QWidget* radio = ui::FindControl(panel_.get(), ComPortRadio(2));
    ASSERT_NE(radio, nullptr);
    const QString device = QDir::current().filePath("adapter");
    qputenv("DPX20_COM2", device.toLocal8Bit());
    QHelpEvent help(QEvent::ToolTip, QPoint(1, 1), radio->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(radio, &help);
    qunsetenv("DPX20_COM2");
    EXPECT_EQ(radio->toolTip().toStdString().rfind(device.toStdString(), 0), 0u)
        << radio->toolTip().toStdString();
}

}  // namespace
}  // namespace dpx::test
