#include "app/RemoteApp.h"

#include "app/TopDialog.h"
#include "link/RS232c_bios.h"

namespace dpx {

int RemoteApp::Run() {
    {
        TopDialog panel;  // no parent: it is the main window
        panel.EnsureInitialised();
        panel.exec();     // how the panel was closed does not matter
    }
    Link().ClosePorts();  // the ports are given up with the process; no device stays locked
    return 0;
}

}  // namespace dpx
