#include "app/RemoteApp.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/PanelApi.h"
#include "app/TopDialog.h"
#include "common/Format.h"
#include "common/MessageSink.h"
#include "link/RS232c_bios.h"
#include "settings/SettingsFile.h"

namespace dpx {

int RemoteApp::Run(Session::Box box, ui::QtMessageSink& notices, const std::string& api, const std::string& api_cert, const std::string& api_key,
                   const std::string& ember) {
    {
        TopDialog panel(std::move(box));  // no parent: it is the main window
        // The folder's settings belong to one panel at a time; a second one says who has them
        // and ends before it reads or writes anything.
        if (int64_t holder = 0; !panel.BoxSession().TakeFolder(&holder)) {
            const std::string who =
                holder > 0 ? Format("another dpx20remote (process %lld)", static_cast<long long>(holder))
                           : std::string("another dpx20remote");
            std::error_code ec;
            ShowMessage(Format("The folder %s is in use by %s.\n\nA folder keeps the settings of one box, and "
                               "one panel at a time may use it. Close the other panel, or start this one in "
                               "the folder of another box.",
                               settings_file::ShownName(std::filesystem::current_path(ec)).c_str(), who.c_str()));
            return kFolderInUse;
        }
        // The API serves from the start, also while a notice of the start (a missing options
        // file) waits for the operator: a panel started at login is reachable before anyone clicks.
        PanelApi control(panel, &notices);
        control.UseTls(api_cert, api_key);
        std::string why;
        const bool serving = control.Start(api, &why);
        if (serving && !api.empty()) std::fprintf(stderr, "dpx20remote: control API at %s\n", control.Where().c_str());
        std::string ember_why;
        const bool providing = ember.empty() || control.StartEmber(ember, &ember_why);
        if (providing && !ember.empty())
            std::fprintf(stderr, "dpx20remote: Ember+ provider at %s\n", control.EmberWhere().c_str());
        panel.EnsureInitialised();
        if (!serving) ShowMessage("The control API cannot start.", why);
        if (!providing) ShowMessage("The Ember+ provider cannot start.", ember_why);
        panel.exec();  // how the panel was closed does not matter
    }  // the session closes the ports: no device stays locked
    return 0;
}

}  // namespace dpx
