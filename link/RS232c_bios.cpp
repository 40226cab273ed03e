#include "link/RS232c_bios.h"

#include <cstdio>

#include "common/MessageSink.h"
#include "common/TickSource.h"
#include "link/LinkImpl.h"

namespace dpx {

RS232c_bios::RS232c_bios() : impl_(std::make_unique<Impl>()) { state_.link_last_tick = Ticks().Now(); }

void RS232c_bios::SetAstrayRecords(std::shared_ptr<const AstrayRecords> records) {
    impl_->records = std::move(records);
    impl_->recorded = {};
}

RS232c_bios::~RS232c_bios() = default;

void RS232c_bios::SetPortFactory(PortFactory factory, PortNamer namer) {
    impl_->factory = std::move(factory);
    impl_->namer = std::move(namer);
}

void RS232c_bios::RunOnLink(const std::function<void()>& work) {
    Elsewhere([&] {
        work();
        return 0;
    });
}

void RS232c_bios::PostOnLink(std::function<void()> work) {
    if (!executor_) return work();
    executor_->Post(std::move(work));
}

int RS232c_bios::Elsewhere(const std::function<int()>& call) {
    if (!Away()) return call();
    int result = 0;
    MessageCapture* capture = MessageCapture::Current();
    executor_->Run([&] {
        MessageCapture::Adopt adopt(capture);
        result = call();
    });
    return result;
}

void RS232c_bios::ClosePorts() {
    if (Away()) {
        RunOnLink([this] { ClosePorts(); });
        return;
    }
    for (std::unique_ptr<SerialPort>& port : impl_->ports) port.reset();
    impl_->configured = {};
    ForgetReplies();
    state_.link_connected = 0;
    state_.link_category = kCategoryUnknown;
}

void RS232c_bios::ForgetReplies() {
    impl_->replies_owed = 0;
    impl_->replies_astray = 0;
    MarkInStep();
}

SerialPort* RS232c_bios::Port(int n) const {
    if (n < 1 || n > kPortCount) return nullptr;
    return impl_->ports[n - 1].get();
}

const uint8_t* RS232c_bios::FrameBuffer() const { return impl_->frame; }
const uint8_t* RS232c_bios::ReplyBuffer() const { return impl_->reply; }
FrameTrace& RS232c_bios::Trace() { return impl_->trace; }

std::string RS232c_bios::TraceDevice() const {
    const SerialPort* port = Port(state_.link_port);
    return port ? port->DeviceName() : PortName(state_.link_port);
}

std::string TickTimeText(uint32_t tick) {
    int days, hours, minutes, seconds, milliseconds;
    RS232c_bios::SplitTickTime(tick, &days, &hours, &minutes, &seconds, &milliseconds);
    return Format("OS Tick Time = %dmS.\n[ %dday : %dhour : %dmin : %dsec : %03dmsec from system boot-up. ]",
                  static_cast<int>(tick), days, hours, minutes, seconds, milliseconds);
}

std::string PortName(int n) { return Format("COM%d", n); }


}  // namespace dpx
