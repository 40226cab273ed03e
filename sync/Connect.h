#pragma once
// CONNECT's way of reaching a wanted link state, shared by the panel and the control API.
#include <cstdint>

#include "link/RS232c_bios.h"

namespace dpx {

// What CONNECT tells when the link refuses the COM port, and when the third try failed too.
inline constexpr char kComPortNotValid[] = "RS232C error! : COM port not valid.";
inline constexpr char kConnectError[] = "Connect error! : 3 times retry, but cannot connect.";

// The pause before CONNECT's third try.
inline constexpr uint32_t kThirdTryPauseMs = 1500;

// Two tries of ConnectLink(want); then, with no-ACK mode off, the opposite state (which sends
// nothing after two failed tries), a kThirdTryPauseMs pause and a last try with no-ACK mode
// `no_ack`. 1 when the link is in the wanted state, else 0.
int ConnectWithRetries(RS232c_bios& link, int want, int32_t no_ack);

// Waits `ms` milliseconds on the tick counter (the tick source sleeps, never spins).
void Pause(uint32_t ms);

}  // namespace dpx
