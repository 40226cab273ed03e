// dpx20sim: a simulated box on a pseudo-terminal or a serial port (see --help).
#include <cstdio>
#include <string>
#include <vector>

#include "sim/SimOptions.h"
#include "sim/SimServer.h"

int main(int argc, char** argv) {
    dpx::sim::SimConfig config;
    std::string error;
    if (!dpx::sim::ParseSimArgs({argv + 1, argv + argc}, &config, &error)) {
        std::fprintf(stderr, "dpx20sim: %s\n", error.c_str());
        return 2;
    }
    if (config.help) {
        std::fputs(dpx::sim::SimHelpText().c_str(), stdout);
        return 0;
    }
    dpx::sim::SimServer server(config);
    if (!server.Start()) {
        std::fprintf(stderr, "dpx20sim: %s\n", server.Error().c_str());
        return 1;
    }
    std::printf("%s\n", server.DevicePath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "dpx20sim: box on %s%s%s\n", server.DevicePath().c_str(),
                 config.link.empty() ? "" : ", link ", config.link.c_str());
    return server.Run();
}
