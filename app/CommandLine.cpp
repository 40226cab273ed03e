#include "app/CommandLine.h"

#include <string_view>

namespace dpx {

const char kPanelUsage[] =
    "Usage: dpx20remote [OPTIONS]\n"
    "\n"
    "The control panel of the ZR-DPX20.\n"
    "\n"
    "Options:\n"
    "      --api [ADDR:]PORT|off  also serve the control API and its web page there (127.0.0.1\n"
    "                             when only a PORT is given); off: not at all. Without it, the\n"
    "                             address saved with the context menu's \"Control API...\"\n"
    "      --api-cert FILE        HTTPS and WSS with this PEM certificate (chain)...\n"
    "      --api-key FILE         ...and this PEM private key (a .p12 certificate: no key file)\n"
    "      --ember [ADDR:]PORT    also serve the box as an Ember+ provider there (127.0.0.1\n"
    "                             when only a PORT is given; port 9000 when only an ADDR)\n"
    "  -h, --help                 this text\n"
    "      --version              the program version\n"
    "\n"
    "The toolkit's own options (-platform NAME, -style NAME, -display DISPLAY, ...) are taken\n"
    "too. See dpx20remote(1).\n";

namespace {

// The toolkit's options that take a value, and those that take none (one or two dashes).
constexpr std::string_view kToolkitWithValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                                  "qwindowgeometry", "qwindowicon", "qwindowtitle", "style",
                                                  "stylesheet", "display", "geometry", "session", "name", "title",
                                                  "qmljsdebugger", "visual"};
constexpr std::string_view kToolkitFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

}  // namespace

PanelOptions ParsePanelArguments(int argc, const char* const* argv) {
    PanelOptions o;
    for (int i = 1; i < argc && o.error.empty(); ++i) {
        const std::string_view a = argv[i];
        const auto value = [&](std::string_view name, std::string& into) {
            if (a == name) {
                if (i + 1 >= argc) return o.error = std::string(name) + " needs a value", true;
                into = argv[++i];
                return true;
            }
            if (a.size() > name.size() && a.substr(0, name.size()) == name && a[name.size()] == '=') {
                into = std::string(a.substr(name.size() + 1));
                return true;
            }
            return false;
        };
        std::string api;
        if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (value("--api", api)) {
            o.api = api;
        } else if (value("--api-cert", o.api_cert) || value("--api-key", o.api_key) || value("--ember", o.ember)) {
        } else {
            std::string_view bare = a;
            while (!bare.empty() && bare.front() == '-') bare.remove_prefix(1);
            const std::size_t dashes = a.size() - bare.size();
            const std::size_t eq = bare.find('=');  // -style=fusion
            const bool inline_value = eq != std::string_view::npos;
            if (inline_value) bare = bare.substr(0, eq);
            bool known = false;
            if (dashes > 0 && dashes <= 2) {
                for (std::string_view option : kToolkitWithValue) {
                    if (bare != option) continue;
                    known = true;
                    if (inline_value) break;
                    if (i + 1 >= argc) o.error = std::string(a) + " needs a value";
                    ++i;
                }
                for (std::string_view option : kToolkitFlags) known = known || (!inline_value && bare == option);
            }
            if (!known) o.error = "unknown " + std::string(a.empty() || a.front() != '-' ? "argument" : "option") + " " + std::string(a);
        }
    }
    return o;
}

}  // namespace dpx
