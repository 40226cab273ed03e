#pragma once
// dpx20ctl serve: the control API without a display, for a rack PC. It serves one box or
// several, each a Session with its own link, thread and folder, until Ctrl-C or SIGTERM.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Mqtt.h"
#include "ctl/CtlRequest.h"
#include "link/RS232c_bios.h"
#include "session/Session.h"

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
    std::string ember;  // [ADDR:]PORT of the Ember+ provider; empty: none
    MqttSetup mqtt;            // --mqtt: the door on a broker beside the HTTP one
    std::FILE* trace = nullptr;  // --trace: where every box's frames are written as they pass
};

// Whether the control API can listen at `where` ([ADDR:]PORT) now: false with `why` when the
// address is bad or the port taken. Checked before any box is sent anything.
bool CheckListen(const std::string& where, std::string* why);

// Sets `link` up for `port` in any form --port takes: a COM number through the COM port map,
// else the device or address as its COM1. Throws UsageError for a name no port has.
void UsePort(RS232c_bios& link, const std::string& port);
// What `port` opens: the device of a COM number, else the name itself.
std::string PortDevice(const std::string& port);
// Whether two --port names open one port.
bool SamePort(const std::string& a, const std::string& b);

// serve: every box on a link and a thread of its own, its settings in the folder NAME/ under
// the current one (made when missing; its options file, memories and folder lock, as a panel's
// folder) or in the current folder (BoxOption::here), logged in at once and all together; a box that cannot be reached
// is served as disconnected with its cause, to be connected later. Serves until stop() is
// true, then logs every box off. Prints the address it serves (and the token file when clients
// need the token) on standard output; one box alone is also served at /api/v1/.... The exit
// code: 0, kExitFile (a folder in use or a damaged file) or kExitUsage (cannot listen), with
// `why`.
int ServeBoxes(const std::vector<BoxOption>& boxes, const ServeSetup& setup, std::string* why);

// dpx20ctl fleet: the control API and web page of every box of every service on the broker of
// setup.mqtt, until stop() is true. The exit code: 0 or kExitUsage, with `why`.
int ServeFleet(const ServeSetup& setup, std::string* why);

}  // namespace dpx::cli
