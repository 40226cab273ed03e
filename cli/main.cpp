// dpx20ctl: the box from scripts (see dpx20ctl --help and its manual page).
#include <QCoreApplication>

#include "cli/Ctl.h"

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    return dpx::cli::Run(argc, argv, dpx::Link());
}
