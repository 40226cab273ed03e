#pragma once
// The one QApplication of a widget test program, made on first use with the dialog font's
// substitution in place, so every test builds its widgets with the same metrics.
#include <QApplication>

#include "ui/LayoutDialog.h"

namespace dpx::test {

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

}  // namespace dpx::test
