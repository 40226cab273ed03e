#pragma once
// dpx20ctl: opens the port, logs in, runs one subcommand (ports, set, sync, memory, send)
// and logs off. Message-box texts go to standard error; results to standard output. An
// interrupted run exits with 128 + the signal number.
#include <filesystem>
#include <string>
#include <vector>

#include "link/RS232c_bios.h"

namespace dpx::cli {

// Exit codes of dpx20ctl.
enum Exit : int {
    kExitOk = 0,
    kExitBox = 1,    // the box refused a command or did not answer
    kExitUsage = 2,
    kExitPort = 3,   // the port could not be opened or set up, or failed during the run
    kExitFile = 4,   // a file could not be read or written
};

// Where the systemd unit dpx20ctl-serve@NAME reads its options (NAME.conf), and the names of
// the services configured in `folder`, in order.
inline constexpr char kServiceConfigFolder[] = "/etc/dpx20remote";
std::vector<std::string> ServiceInstances(const std::filesystem::path& folder);
// Where service NAME under the unit keeps its control API token (readable by root alone: the
// unit runs as a dynamic user whose state folder is private).
std::string ServiceTokenFile(const std::string& instance);

// One run on `link`, which it sets up (port, modes, trace) and whose ports it closes at the end.
int Run(int argc, char** argv, RS232c_bios& link);

}  // namespace dpx::cli
