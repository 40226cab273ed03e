#pragma once
// The application object: runs the main control panel as the process's main window. It
// holds no state; when the panel closes, the program is over.
#include <string>

#include "session/Session.h"
#include "ui/QtMessageSink.h"

namespace dpx {

class RemoteApp {
public:
    // Exit code when another panel already runs in the current directory.
    static constexpr int kFolderInUse = 1;

    // Creates the panel on `box`, which it owns, its notices shown by `notices`, runs it modally until the operator closes it
    // and destroys it. Nothing is sent to the box and nothing is written at the end; the link's
    // ports are closed. Returns the exit code. The current directory is locked for the panel's life:
    // when another panel has it, one notice says so and nothing is read or written.
    // With `api` ([ADDR:]PORT, empty: none) the panel also serves the control API there, from
    // before the first notice of its start on; a
    // failure to listen is told and the panel runs without it. `api_cert` and `api_key` (PEM
    // files) serve it over HTTPS.
    // With `ember` ([ADDR:]PORT) it also serves the Ember+ provider there.
    int Run(Session::Box box, ui::QtMessageSink& notices, const std::string& api = {}, const std::string& api_cert = {},
            const std::string& api_key = {}, const std::string& ember = {});
};

}  // namespace dpx
