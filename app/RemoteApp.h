#pragma once
// The application object: runs the main control panel as the process's main window. It
// holds no state; when the panel closes, the program is over.
namespace dpx {

class RemoteApp {
public:
    // Creates the panel, runs it modally until the operator closes it and destroys it.
    // Nothing is sent to the box and nothing is written at the end; the link's ports are
    // closed. Returns the exit code.
    int Run();
};

}  // namespace dpx
