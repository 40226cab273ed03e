#pragma once
// Helpers of the widget tests: the one QApplication of a test program, a temporary current
// directory for the settings files.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include "ui/LayoutDialog.h"

namespace dpx::test {

// Made on first use with the dialog font's substitution in place, so every test builds its
// widgets with the same metrics.
inline QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "dpx20remote_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        ui::InstallFontSubstitution();
        return a;
    }();
    return *app;
}

// A temporary directory that is the current one while this lives, so the options, memory
// and adjust files a test makes go there; the previous current directory comes back after.
class TemporaryCurrentDir {
public:
    TemporaryCurrentDir() : previous_(QDir::currentPath()) { ok_ = dir_.isValid() && QDir::setCurrent(dir_.path()); }
    ~TemporaryCurrentDir() { QDir::setCurrent(previous_); }
    TemporaryCurrentDir(const TemporaryCurrentDir&) = delete;
    TemporaryCurrentDir& operator=(const TemporaryCurrentDir&) = delete;
    bool ok() const { return ok_; }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QString previous_;
    bool ok_ = false;
};

}  // namespace dpx::test
