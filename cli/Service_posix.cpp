#include <cstdio>

#include "cli/Ctl.h"
#include "cli/Service.h"

namespace dpx::cli {

int ServiceAction(const ServiceRequest&) {
    std::fputs("dpx20ctl: service: Windows services only; here dpx20ctl serve runs under systemd as "
               "dpx20ctl-serve@NAME with its options in /etc/dpx20remote/NAME.conf "
               "(the Debian package installs it; see SYSTEMD UNIT in man dpx20ctl)\n",
               stderr);
    return kExitUsage;
}

}  // namespace dpx::cli
