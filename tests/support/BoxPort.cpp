#include "tests/support/BoxPort.h"

#include <memory>

#include "common/TickSource.h"

namespace dpx::test {
namespace {

// A port that never opens, for COM numbers the test did not give a box.
class MissingPort final : public SerialPort {
public:
    explicit MissingPort(int n) : name_("COM" + std::to_string(n)) {}
    bool Open() override { return false; }
    bool ReadLineSettings() override { return false; }
    bool ApplyLineSettings() override { return false; }
    bool ApplyTimeouts() override { return false; }
    bool IsUsable() const override { return false; }
    bool Purge() override { return false; }
    bool ClearError(uint32_t*, uint32_t*, uint32_t) override { return false; }
    uint32_t Write(const uint8_t*, uint32_t) override { return 0; }
    uint32_t ReadByte(uint8_t*) override { return 0; }
    std::string DeviceName() const override { return name_; }
    std::string ErrorText() const override { return name_ + ": no such device"; }
    void Close() override {}

private:
    std::string name_;
};

constexpr uint32_t kReadTimeoutMs = kPortTimeouts.ReadTotalMs(1);

}  // namespace

BoxPort::BoxPort(sim::BoxModel& box, int com_number) : box_(box), com_number_(com_number) {}

void BoxPort::Install(RS232c_bios& link, sim::BoxModel& box, int only_com) {
    link.SetPortFactory([&box, only_com](int n) -> std::unique_ptr<SerialPort> {
        if (only_com != 0 && n != only_com) return std::make_unique<MissingPort>(n);
        return std::make_unique<BoxPort>(box, n);
    });
}

BoxPort* BoxPort::Of(const RS232c_bios& link) {
    return dynamic_cast<BoxPort*>(link.Port(link.State().link_port));
}

bool BoxPort::Open() {
    ++open_count;
    if (open_fails) {
        error_ = DeviceName() + ": no such device";
        return false;
    }
    open_ = true;
    gone = false;
    error_.clear();
    input_.clear();
    return true;
}

bool BoxPort::Purge() {
    if (!IsUsable()) return false;
    input_.clear();
    return true;
}

bool BoxPort::ClearError(uint32_t* errors, uint32_t* queued, uint32_t wait_ms) {
    if (errors) *errors = 0;
    if (queued) *queued = 0;
    if (!IsUsable()) return false;
    if (input_.empty() && wait_ms > 0) Ticks().WaitSince(Ticks().Now(), wait_ms);
    if (queued) *queued = static_cast<uint32_t>(input_.size());
    return true;
}

uint32_t BoxPort::Write(const uint8_t* data, uint32_t n) {
    if (!IsUsable()) return 0;
    writes.emplace_back(data, data + n);
    for (sim::Exchange& ex : box_.Receive(data, n, Ticks().Now())) {
        if (tamper) tamper(ex, ex.reply);
        if (!silent) input_.insert(input_.end(), ex.reply.begin(), ex.reply.end());
    }
    return n;
}

uint32_t BoxPort::ReadByte(uint8_t* byte) {
    if (!IsUsable()) return 0;
    if (input_.empty()) {
        Ticks().WaitSince(Ticks().Now(), kReadTimeoutMs);
        return 0;
    }
    *byte = input_.front();
    input_.pop_front();
    return 1;
}

std::string BoxPort::DeviceName() const { return "COM" + std::to_string(com_number_); }

std::string BoxPort::ErrorText() const {
    if (gone) return DeviceName() + ": device gone";
    return error_;
}

}  // namespace dpx::test
