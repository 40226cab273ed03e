// Notices taller than the screen: the OK button stays on the screen and no line of the text is
// lost; it moves behind "Show Details...".
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <string>
#include <vector>

#include "settings/OptionFile.h"
#include "tests/support/TestApp.h"
#include "tests/support/TestSeam.h"
#include "ui/QtMessageSink.h"

namespace dpx {
namespace {

std::string Lines(int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i) text += "line " + std::to_string(i) + (i < to ? "\n" : "");
    return text;
}

TEST(NoticeTest, ALongTextKeepsItsFirstParagraphAndMovesTheRestToTheDetail) {
    const std::string file = OptionFileText(SettingsRecord{});
    const std::string head = "Cannot write";
    const struct {
        std::string text, detail;
        int max_lines;
        ui::NoticeParts shown;
    } cases[] = {
        {Lines(1, 10), "", 10, {Lines(1, 10), ""}},                 // short enough: as it is
        {head + "\n\n\n" + file, "", 30, {head, file}},              // the first paragraph stays
        {head + "\n\n\n" + file, "why", 30, {head, "why\n\n" + file}},  // after the own detail
        {Lines(1, 40), "", 10, {Lines(1, 10), Lines(11, 40)}},      // no paragraph: lines that fit
        {Lines(1, 3), "", 0, {Lines(1, 1), Lines(2, 3)}},           // one line at the least
    };
    for (const auto& c : cases) {
        const ui::NoticeParts shown = ui::FitNotice(c.text, c.detail, c.max_lines);
        EXPECT_EQ(shown.text, c.shown.text) << c.text.substr(0, 20);
        EXPECT_EQ(shown.detail, c.shown.detail) << c.text.substr(0, 20);
    }
}

TEST(NoticeTest, TheWriteFailureWithTheWholeFileFitsTheScreen) {
    test::TestApp();
    ui::QtMessageSink sink;
    TestSeam seam;
    seam.Sink(&sink);
    const std::string text = "Cannot write\n\n\n" + OptionFileText(SettingsRecord{});
    int height = 0;
    QString detail;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            height = box->frameGeometry().height();
            detail = box->detailedText();
            box->accept();
        }
    });
    closer.start(0);
    ShowMessage(text);
    EXPECT_GT(height, 0);
    EXPECT_LE(height, QGuiApplication::primaryScreen()->availableGeometry().height());
    EXPECT_EQ(detail.toStdString(), OptionFileText(SettingsRecord{}));
}

// A notice in a busy time (the panel's wait cursor up, once or nested) waits for the operator
// with the normal cursor and gives the wait cursor back; a watcher hears of it as it opens.
TEST(NoticeTest, ANoticeInABusyTimeShowsTheNormalCursorAndIsWatched) {
    test::TestApp();
    ui::QtMessageSink sink;
    TestSeam seam;
    seam.Sink(&sink);
    std::vector<std::string> watched;
    sink.Watch([&](const std::string& text, const std::string& detail) { watched.push_back(text + "|" + detail); });
    for (const int busy : {0, 1, 2, -1}) {  // -1: no longer watched
        if (busy < 0) sink.Unwatch();
        for (int i = 0; i < busy; ++i) QApplication::setOverrideCursor(Qt::WaitCursor);
        bool shown_busy = true;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown_busy = QApplication::overrideCursor() != nullptr;
                box->accept();
            }
        });
        closer.start(0);
        ShowMessage("busy " + std::to_string(busy), "why");
        EXPECT_FALSE(shown_busy) << busy;
        int left = 0;
        for (; QApplication::overrideCursor(); ++left) {
            EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
            QApplication::restoreOverrideCursor();
        }
        EXPECT_EQ(left, std::max(busy, 0));
    }
    EXPECT_EQ(watched, (std::vector<std::string>{"busy 0|why", "busy 1|why", "busy 2|why"}));
}

}  // namespace
}  // namespace dpx
