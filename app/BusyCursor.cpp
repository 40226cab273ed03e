#include "app/BusyCursor.h"

#include <QApplication>
#include <QCursor>

namespace dpx {

BusyCursor::BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

BusyCursor::~BusyCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace dpx
