#include "sync/Connect.h"

#include "common/TickSource.h"

namespace dpx {

int ConnectWithRetries(RS232c_bios& link, int want, int32_t no_ack) {
    if (link.ConnectLink(want) || link.ConnectLink(want)) return 1;
    link.SetNoAckMode(0);
    link.ConnectLink(want ? 0 : 1);
    Pause(kThirdTryPauseMs);
    link.SetNoAckMode(no_ack);
    return link.ConnectLink(want) ? 1 : 0;
}

void Pause(uint32_t ms) {
    TickSource& ticks = Ticks();
    ticks.WaitSince(ticks.Now(), ms);
}

}  // namespace dpx
