#pragma once
// The panel's command line: its own options (--api, --api-cert, --api-key, --ember, --help, --version)
// and the toolkit's (-platform, -style, ...), which the toolkit takes itself; anything else is
// refused with the usage text, before a window opens.
#include <optional>
#include <string>

namespace dpx {

struct PanelOptions {
    std::optional<std::string> api;  // --api [ADDR:]PORT|off as given; none: the saved address
    std::string api_cert;
    std::string api_key;
    std::string ember;  // --ember [ADDR:]PORT; empty: no Ember+ provider
    bool help = false;
    bool version = false;
    std::string error;  // not empty: the command line is refused, and why
};

PanelOptions ParsePanelArguments(int argc, const char* const* argv);

// The text --help prints.
extern const char kPanelUsage[];

}  // namespace dpx
