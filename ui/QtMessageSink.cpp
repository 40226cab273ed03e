#include "ui/QtMessageSink.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QScreen>
#include <QStringDecoder>

#include <algorithm>

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

NoticeParts FitNotice(const std::string& text, const std::string& detail, int max_lines) {
    max_lines = std::max(max_lines, 1);
    if (std::count(text.begin(), text.end(), '\n') < max_lines) return {text, detail};
    std::size_t head = 0;  // the end of the first max_lines lines
    for (int i = 0; i < max_lines; ++i) head = text.find('\n', i == 0 ? 0 : head + 1);
    head = std::min(head, text.find("\n\n"));
    const std::size_t rest = text.find_first_not_of('\n', head);
    const std::string moved = rest == std::string::npos ? std::string() : text.substr(rest);
    return {text.substr(0, head), detail.empty() ? moved : detail + "\n\n" + moved};
}

bool ShownOnWindowThread(const std::function<void()>& show) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) return false;
    QMetaObject::invokeMethod(app, show, Qt::BlockingQueuedConnection);
    return true;
}

// A warning box with OK over the window the operator is using, so it is modal to it; the
// title is the program's name.
void QtMessageSink::Show(const std::string& text) { ShowDetailed(text, {}); }

void QtMessageSink::ShowDetailed(const std::string& text, const std::string& detail) {
    // The link waits for the operator as it would on the window's own thread.
    if (ShownOnWindowThread([&] { ShowDetailed(text, detail); })) return;
    if (watcher_) watcher_(text, detail);
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent) parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), {}, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    // The text may fill the screen but for the title bar, the button row and the details
    // area when it is opened.
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const int room = screen ? screen->availableGeometry().height() - 300 : 400;
    const NoticeParts parts = FitNotice(text, detail, room / box.fontMetrics().lineSpacing());
    box.setText(NoticeText(parts.text));
    if (!parts.detail.empty()) box.setDetailedText(NoticeText(parts.detail));
    int waiting = 0;
    for (; QApplication::overrideCursor() && waiting < 16; ++waiting) QApplication::restoreOverrideCursor();
    box.exec();
    while (waiting-- > 0) QApplication::setOverrideCursor(Qt::WaitCursor);
}

}  // namespace dpx::ui
