#pragma once
// The control dialogs against the in-process box, offscreen: a logged-in link on a fake
// clock, recorded messages, a temporary current directory for the adjust slot files, and
// the frames the box received as readable words ("ADJUS", "ADJMD 4", "ADJOS -60").
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "dialogs/ControlDialog.h"
#include "session/Session.h"
#include "tests/support/ConnectedBoxTest.h"
#include "tests/support/TestApp.h"
#include "ui/LayoutDialog.h"

namespace dpx::test {

class DialogTest : public ConnectedBoxTest {
protected:
    // The box's session the dialog sends through, on a record of its own.
    Session session_{link_, "."};
    SettingsRecord& record_ = session_.Record();

    DialogTest() { TestApp(); }  // before the derived fixture's dialog member
    void SetUp() override {
        ASSERT_TRUE(dir_.ok());
        ConnectedBoxTest::SetUp();
    }

    // Hands `dialog` its values as the panel does: they are the session's record too, which
    // the box's rules read.
    template <class Dialog>
    void Hand(Dialog& dialog, const typename Dialog::ValuesType& values) {
        const auto group = dialogs::GroupSettings<typename Dialog::ValuesType>();
        const auto array = dialogs::AsArray(values);
        for (std::size_t i = 0; i < group.size(); ++i) record_.*group[i]->field = array[i];
        dialog.SetValues(values);
    }

    // Logs the box off, so that every send fails without a frame.
    void Disconnect() {
        ASSERT_EQ(link_.ConnectLink(0), 1);
        box_.ClearHistory();
    }

    // The frames the box received since the last call: category selects as their word,
    // value commands as the word and the signed value.
    std::vector<std::string> Sent() {
        std::vector<std::string> words;
        for (const sim::Exchange& ex : box_.History()) {
            std::string w = ex.word;
            if (ex.command >= kINPSE) {
                const int v = ex.frame[8] == '-' ? static_cast<int8_t>(ex.frame[9]) : ex.frame[9];
                w += " " + std::to_string(v);
            }
            words.push_back(w);
        }
        box_.ClearHistory();
        return words;
    }
    std::vector<std::string> Messages() {
        std::vector<std::string> texts = std::move(messages_.texts);
        messages_.texts.clear();
        return texts;
    }

    static void Click(const QWidget* dialog, int id) {
        auto* b = ui::Control<QAbstractButton>(dialog, id);
        ASSERT_NE(b, nullptr) << "no button " << id;
        b->click();
    }
    static void Scroll(const QWidget* dialog, int id, ui::ScrollRequest request, int thumb = 0) {
        auto* bar = ui::Control<QScrollBar>(dialog, id);
        ASSERT_NE(bar, nullptr) << "no bar " << id;
        ui::SendScrollRequest(bar, request, thumb);
    }
    // Turns the mouse wheel over bar `id` by `delta` (120 is one notch; negative is down).
    static void Wheel(const QWidget* dialog, int id, int delta) {
        auto* bar = ui::Control<QScrollBar>(dialog, id);
        ASSERT_NE(bar, nullptr) << "no bar " << id;
        const QPointF at(bar->width() / 2.0, bar->height() / 2.0);
        QWheelEvent event(at, bar->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(bar, &event);
    }
    // Opens the context menu of bar `id` at x (the bar's middle when negative) and chooses
    // the item `text` in it, as the operator would with the keyboard.
    static void MenuItem(const QWidget* dialog, int id, const char* text, int x = -1) {
        auto* bar = ui::Control<QScrollBar>(dialog, id);
        ASSERT_NE(bar, nullptr) << "no bar " << id;
        bool chosen = false;
        QTimer::singleShot(0, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* action : menu->actions()) {
                if (action->text() != QLatin1String(text)) continue;
                menu->setActiveAction(action);
                chosen = true;
            }
            if (chosen) QTest::keyClick(menu, Qt::Key_Return);
            else menu->close();
        });
        const QPoint at(x < 0 ? bar->width() / 2 : x, bar->height() / 2);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, bar->mapToGlobal(at));
        QApplication::sendEvent(bar, &event);
        EXPECT_TRUE(chosen) << "no item " << text;
    }
    static int Bar(const QWidget* dialog, int id) {
        auto* bar = ui::Control<QScrollBar>(dialog, id);
        return bar ? bar->value() : -9999;
    }
    static std::string Field(const QWidget* dialog, int id) {
        auto* field = ui::Control<QLineEdit>(dialog, id);
        return field ? field->text().toStdString() : "<no field>";
    }
    // The selected radios among `ids`, in the order given.
    static std::vector<int> Selected(const QWidget* dialog, std::initializer_list<int> ids) {
        std::vector<int> selected;
        for (int id : ids)
            if (ui::IsRadioSelected(dialog, id)) selected.push_back(id);
        return selected;
    }

    TemporaryCurrentDir dir_;
    FatalExitRecorder exits_;
};

}  // namespace dpx::test
