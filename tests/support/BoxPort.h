#pragma once
// An in-process serial port that serves a BoxModel directly: every frame written is handed
// to the box at once and its reply is queued for reading. No pseudo-terminal, no process.
// Waits on an empty queue go through Ticks(), so with a FakeClock they take no real time.
//
// Typical use in a test:
//   dpx::sim::BoxModel box;
//   dpx::RS232c_bios link;
//   dpx::test::BoxPort::Install(link, box);      // every COM number serves `box`
//   link.SetDebugMode(0);
//   link.ConnectLink(1);                         // real login frame, real ACK
//   link.SetInputSelect(1);  ->  box.State().input_select == 1
// Faults: reach the port with BoxPort::Of(link) and set its members (silent, open_fails,
// tamper), or set forced NAKs in box.Options().
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/RS232c_bios.h"
#include "link/SerialPort.h"
#include "sim/BoxModel.h"

namespace dpx::test {

class BoxPort final : public SerialPort {
public:
    BoxPort(sim::BoxModel& box, int com_number);

    // Sets a port factory on `link` whose ports serve `box`. With only_com set, the other
    // COM numbers make ports that fail to open (as a missing device does).
    static void Install(RS232c_bios& link, sim::BoxModel& box, int only_com = 0);
    // The port of the link's current COM number as a BoxPort, or nullptr if none was made.
    static BoxPort* Of(const RS232c_bios& link);

    bool Open() override;
    bool ReadLineSettings() override { return open_; }
    bool ApplyLineSettings() override { return open_; }
    bool ApplyTimeouts() override { return open_; }
    bool IsUsable() const override { return open_ && !gone; }
    bool Purge() override;
    bool ClearError(uint32_t* errors, uint32_t* queued, uint32_t wait_ms) override;
    uint32_t Write(const uint8_t* data, uint32_t n) override;
    uint32_t ReadByte(uint8_t* byte) override;
    std::string DeviceName() const override;
    std::string ErrorText() const override;
    void Close() override { open_ = false; }

    // --- faults and records, for tests ---
    bool open_fails = false;  // Open() fails as for a missing device
    bool silent = false;      // the box takes frames but never answers
    bool gone = false;        // the device has vanished: reads and writes fail
    // Called with each reply before it is queued; may change or clear it.
    std::function<void(const sim::Exchange&, std::vector<uint8_t>& reply)> tamper;
    int open_count = 0;
    std::vector<std::vector<uint8_t>> writes;  // every Write() call's bytes

private:
    sim::BoxModel& box_;
    int com_number_;
    bool open_ = false;
    std::deque<uint8_t> input_;
    std::string error_;
};

}  // namespace dpx::test
