// Not a test: saves each of the six control dialogs, opened in virtual mode with typical
// values, as a PNG in the folder given (docs/ by scripts/screenshots.sh), for a look. Run on a
// real display server for real rendering. Exit status 1 when a picture cannot be saved or a
// dialog told the operator something.
#include <QApplication>
#include <QDir>
#include <cstdio>

#include "dialogs/Adjust2D3DDialog.h"
#include "dialogs/AdjustSdiLrDialog.h"
#include "dialogs/FunctionDialog.h"
#include "dialogs/InputSelectDialog.h"
#include "dialogs/OutputPresetDialog.h"
#include "dialogs/ScopeDialog.h"
#include "link/RS232c_bios.h"
#include "tests/support/Recorders.h"
#include "ui/LayoutDialog.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ui_dialog_screenshots FOLDER\n");
        return 2;
    }
    QApplication app(argc, argv);
    dpx::ui::InstallFontSubstitution();
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    dpx::test::MessageRecorder messages;
    dpx::RS232c_bios link;
    link.SetVirtualMode(1);
    dpx::Session session(link, ".");
    dpx::Adjust2D3DDialog adjust(session);
    adjust.SetValues({4, 13, 23, 40});
    dpx::AdjustSdiLrDialog sdilr(session);
    sdilr.SetValues({1, -15});
    dpx::ScopeDialog scope(session);
    scope.SetValues({1, 2, 2, 0, -12, 30});
    dpx::FunctionDialog function(session);
    function.SetValues({1, 1, 0, -12});
    dpx::InputSelectDialog input(session);
    input.SetValues({0, 1});
    dpx::OutputPresetDialog output(session);
    output.SetValues({0, 1, 3});
    const std::pair<dpx::ui::LayoutDialog*, const char*> shots[] = {
        {&adjust, "dialog_adjust2d3d.png"}, {&sdilr, "dialog_sdilr.png"}, {&scope, "dialog_scope.png"},
        {&function, "dialog_function.png"}, {&input, "dialog_input.png"}, {&output, "dialog_output.png"}};
    int status = 0;
    for (auto [dialog, file] : shots) {
        dialog->show();
        QApplication::processEvents();
        const QString path = dir.filePath(QString::fromLatin1(file));
        if (dialog->grab().save(path)) {
            std::printf("%s\n", qPrintable(path));
        } else {
            std::fprintf(stderr, "ui_dialog_screenshots: cannot save %s\n", qPrintable(path));
            status = 1;
        }
        dialog->hide();
    }
    for (const std::string& text : messages.texts) {
        std::fprintf(stderr, "ui_dialog_screenshots: told: %s\n", text.c_str());
        status = 1;
    }
    return status;
}
