#include "app/RemoteApp.h"

#include "app/TopDialog.h"

namespace dpx {

int RemoteApp::Run() {
    {
        TopDialog panel;  // no parent: it is the main window
        panel.EnsureInitialised();
        panel.exec();     // how the panel was closed does not matter
    }
    return 0;
}

}  // namespace dpx
