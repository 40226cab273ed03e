#include "ui/QtMessageSink.h"

#include <QApplication>
#include <QMessageBox>
#include <QStringDecoder>

namespace dpx::ui {

QString NoticeText(const std::string& text) {
    // The program's own texts and the file paths in them are UTF-8. A debug report carries
    // the frame's and the reply's bytes as they are, and a value byte of 0x80 or above next
    // to the ASCII around it never makes valid UTF-8: such a text is one character per byte.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (!utf8.hasError()) return decoded;
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// A warning box with OK over the window the operator is using, so it is modal to it; the
// title is the program's name.
void QtMessageSink::Show(const std::string& text) { ShowDetailed(text, {}); }

void QtMessageSink::ShowDetailed(const std::string& text, const std::string& detail) {
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent) parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), NoticeText(text), QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    if (!detail.empty()) box.setDetailedText(NoticeText(detail));
    box.exec();
}

}  // namespace dpx::ui
