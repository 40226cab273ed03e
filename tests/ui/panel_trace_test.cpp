// "Save diagnostic trace..." of the panel's context menu.
#include "tests/ui/panel_fixture.h"

#include <QFileDialog>
#include <QTimer>

namespace dpx::test {
namespace {

using namespace panel;

// Answers the file dialog that the next trigger opens with `path`.
void ChooseFile(const QString& path) {
    QTimer::singleShot(0, [path] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->directory(), QDir::home());  // not the panel's (often hidden) folder
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();  // as the Save button does
    });
}

TEST_F(PanelTest, SavesTheDiagnosticTraceFromTheContextMenu) {
    WriteOptions(SettingsRecord{});
    Start();
    Click(kConnect);
    ASSERT_NE(panel_->trace_action(), nullptr);
    EXPECT_TRUE(panel_->actions().contains(panel_->trace_action()));
    EXPECT_EQ(panel_->trace_action()->text().toStdString(), "Save diagnostic trace...");

    // A name outside ASCII, which on Windows only the wide-character calls reach.
    const QString path = QDir::current().absoluteFilePath(QString::fromUtf8(u8"trace-r\u00e9glages-\u8a2d\u5b9a.txt"));
    ChooseFile(path);
    panel_->trace_action()->trigger();
    const std::string text = ReadFile(path.toStdString());
    EXPECT_NE(text.find("Version: "), std::string::npos);
    EXPECT_NE(text.find(std::string("Qt: ") + qVersion()), std::string::npos);
    EXPECT_NE(text.find("COM1  "), std::string::npos);
    EXPECT_NE(text.find(ReadFile("dpx20remote.ini")), std::string::npos);
    EXPECT_NE(text.find(" login result 0 (ACK)\n"), std::string::npos);
    messages_.texts.clear();  // the synchronisation's summary

    ChooseFile(QDir::current().absoluteFilePath(QStringLiteral("missing/trace.txt")));
    panel_->trace_action()->trigger();
    ASSERT_EQ(messages_.texts, std::vector<std::string>{"Cannot write the diagnostic trace file!"});
    EXPECT_NE(messages_.details.back().find("No such file or directory"), std::string::npos);
}

}  // namespace
}  // namespace dpx::test
