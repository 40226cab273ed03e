#pragma once
// dpx20ctl serve: the control API without a display, for a rack PC. It serves the link that
// the run set up (and logged in) and the settings kept in the options file of the working
// directory, as the panel keeps them, until Ctrl-C or SIGTERM.
#include <string>

#include "link/RS232c_bios.h"

namespace dpx::cli {

// What the service runs with, from its command line.
struct ServeSetup {
    std::string api;     // [ADDR:]PORT
    std::string device;  // what the port is (a device path, COMn, a network address)
    int com = 1;         // the COM number the link uses for it
    bool no_ack = false;
    bool virtual_mode = false;
    bool (*stop)() = nullptr;  // true once the service is to end
    std::string api_cert;      // HTTPS: the PEM certificate (chain) and private key files
    std::string api_key;
};

// Serves until setup.stop() is true; false with `why` when it cannot listen. Prints the
// address it serves (and the token file when clients need the token) on standard output.
bool Serve(RS232c_bios& link, const ServeSetup& setup, std::string* why);

}  // namespace dpx::cli
