#include "ui/QtMessageSink.h"

#include <QApplication>
#include <QMessageBox>

namespace dpx::ui {

// A warning box with OK over the window the operator is using, so it is modal to it; the
// title is the program's name.
void QtMessageSink::Show(const std::string& text) { ShowDetailed(text, {}); }

void QtMessageSink::ShowDetailed(const std::string& text, const std::string& detail) {
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent) parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(),
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    if (!detail.empty()) box.setDetailedText(QString::fromStdString(detail));
    box.exec();
}

}  // namespace dpx::ui
