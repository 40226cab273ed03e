#pragma once
// Private state of RS232c_bios shared by its source files, and the text helpers of the
// diagnostic report.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/Format.h"
#include "model/CommandTable.h"
#include "link/RS232c_bios.h"
#include "link/SerialPort.h"

namespace dpx {

constexpr int kPortCount = 8;

struct RS232c_bios::Impl {
    PortFactory factory;
    PortNamer namer;
    // Port objects of COM1..COM8, made on first open and kept for the life of the link.
    std::array<std::unique_ptr<SerialPort>, kPortCount> ports;
    // Set once line settings and time-outs were applied after the last successful Open().
    std::array<bool, kPortCount> configured{};
    uint8_t frame[kFrameBufferSize] = {};
    uint8_t reply[kReplyBufferSize] = {};
    uint32_t bytes_written = 0;
    uint32_t reply_tick = 0;  // when the last reply was classified
    // Replies come back in order and name no command. So the link counts the frames it wrote
    // whose replies it has not read, and before the next transaction's first write reads and
    // drops that many late replies (ReadOwedReplies); a reply is never read for another
    // command's. `activity_tick` is the last write or the last late byte read: the wait for
    // late replies counts from it.
    uint32_t replies_owed = 0;
    uint32_t activity_tick = 0;
    // Replies given up as lost that may still come. While there are any, a reply read for a
    // frame may be one of them, so the transaction that read it watches the line until it is
    // quiet: a reply beyond those owed means replies and frames are out of step.
    uint32_t replies_astray = 0;
    uint32_t astray_until = 0;  // the tick until which replies astray may still come
    uint32_t replies_read = 0;  // replies ReadComAck began to read, ever
    // Transactions that wrote a frame, ever (the number of the latest), and the latest whose
    // reply is known to be its own: none owed or astray when it ended. When the link finds
    // itself out of step, the transactions after that point up to the latest are doubted.
    uint64_t transactions = 0;
    uint64_t in_step_through = 0;
    std::vector<std::pair<uint64_t, uint64_t>> doubted;  // first and last of each doubted run
    // The record for the next program on the device, and what was last written to it.
    std::shared_ptr<const AstrayRecords> records;
    AstrayNote recorded;
    // Replies an earlier program left on record, still to be waited for before the login.
    bool astray_recorded = false;
    // Whether the box has sent any reply since the port was opened: replies owed by a box that
    // never answered (absent, switched off) are not left on record.
    bool heard = false;
    // Line errors the port reported while replies were read before a write; the write's own
    // check of the port's error state reports them with its own.
    uint32_t line_errors = 0;
    FrameTrace trace;
    RS232c_bios::DeviceGoneHandler device_gone;
    RS232c_bios::TakenHandler taken;
    AdjustValues adjust = {13, 23, 40, 13, 23, 40, 13, 23, 40};
};

// "OS Tick Time = %dmS.\n[ %dday : %dhour : %dmin : %dsec : %03dmsec from system boot-up. ]"
std::string TickTimeText(uint32_t tick);

// "COM1".."COM8".
std::string PortName(int n);

}  // namespace dpx
