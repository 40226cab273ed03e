#pragma once
// dpx20ctl serve as a Windows service (the request: ctl/ServiceRequest.h), installed, started,
// stopped and removed through the Service Control Manager; elsewhere a pointer to the systemd
// unit that runs it.
#include "ctl/ServiceRequest.h"

namespace dpx::cli {

// Carries out `request`, telling what it did on standard output and why it failed on standard
// error; the exit code. "run" is the service itself: it runs serve until the Service Control
// Manager stops it.
int ServiceAction(const ServiceRequest& request);

}  // namespace dpx::cli
