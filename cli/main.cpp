// dpx20ctl: the box from scripts (see dpx20ctl --help and its manual page).
#include <QCoreApplication>

#include "cli/Ctl.h"
#include "http/TlsBackend.h"

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    dpx::api::PreferOpenSslBackend();  // before anything uses TLS
    // The program's one link, made after the application so that its ports go before Qt does.
    dpx::RS232c_bios link;
    return dpx::cli::Run(argc, argv, link);
}
