#include "app/BusyCursor.h"

#include <QApplication>
#include <QCursor>

namespace dpx {

BusyCursor::BusyCursor() {
    previous_ = SetMessageSink(this);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    waiting_ = true;
}

BusyCursor::~BusyCursor() {
    if (waiting_) QApplication::restoreOverrideCursor();
    SetMessageSink(previous_);
}

void BusyCursor::Show(const std::string& text) { ShowDetailed(text, {}); }

void BusyCursor::ShowDetailed(const std::string& text, const std::string& detail) {
    if (waiting_) QApplication::restoreOverrideCursor();
    waiting_ = false;
    // The notice goes to the sink that was in force when the busy time began.
    SetMessageSink(previous_);
    ShowMessage(text, detail);
    SetMessageSink(this);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    waiting_ = true;
}

}  // namespace dpx
