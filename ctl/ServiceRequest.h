#pragma once
// `dpx20ctl service install|remove NAME`: dpx20ctl serve as a Windows service. What the command
// line asks for, checked before the Service Control Manager is asked anything; free of Qt and
// of Windows, so that it is tested everywhere.
#include <string>
#include <vector>

namespace dpx::cli {

// The Service Control Manager's name of service NAME; its folder is %ProgramData%\dpx20remote\NAME.
inline constexpr char kServiceNamePrefix[] = "dpx20ctl-serve@";

struct ServiceRequest {
    std::string action;                   // "install", "remove", or "run" (the service itself)
    std::string name;                     // NAME
    std::vector<std::string> serve_args;  // install, run: the options of serve, without "serve"
};

// The arguments after `service`: install NAME -- SERVE-OPTIONS..., remove NAME, or run NAME --
// SERVE-OPTIONS... (the command line the service is installed with). NAME is 1 to 64 letters,
// digits, '-', '_' or '.', not starting with '.'. The serve options are checked as dpx20ctl
// checks them ("serve" itself may end them). Throws UsageError.
ServiceRequest ParseServiceRequest(const std::vector<std::string>& args);

// One command line of `args` as Windows programs split it (CommandLineToArgvW and the C
// runtime): an argument with a space, tab or quote, or an empty one, in quotes, its quotes and
// the backslashes before them and before its closing quote doubled as escapes.
std::string WindowsCommandLine(const std::vector<std::string>& args);

}  // namespace dpx::cli
