// The device operations: one call per box setting, selecting the command's category and
// then sending the value; plus the mirror of the box's adjust values. All of them are one
// operation over the command table, whose row of the value command gives the category, the
// sign and the values a checked command takes.
#include "common/TickSource.h"
#include "link/LinkImpl.h"

namespace dpx {
namespace {

constexpr uint32_t kAdjustModeRetryMs = 100;

// Only the low 8 bits of an argument reach the box; range checks read them as signed.
int8_t Low8(int32_t v) { return static_cast<int8_t>(static_cast<uint32_t>(v) & 0xFFu); }

// Where the mirror keeps the value a command sets: parallax, intensity, sub intensity; -1 for
// the other commands.
int MirrorIndex(int command) {
    switch (command) {
        case kADJPX: return 0;
        case kADJIY: return 1;
        case kADJSI: return 2;
        default: return -1;
    }
}

}  // namespace

int RS232c_bios::SetValue(int command, int32_t v) {
    if (Away()) return Elsewhere([&] { return SetValue(command, v); });
    if (!IsValueCommand(command)) return 0;
    if (state_.link_virtual) return 1;
    const CommandRow& row = CommandTable[static_cast<std::size_t>(command)];
    const int8_t value = Low8(v);
    if (row.checked && !row.values.Holds(value)) return 0;
    const int mirror = MirrorIndex(command);
    // The signed commands carry the sign ("-" exactly when the byte is negative); the adjust
    // values pass "+", which their frame does not use; the others 0.
    const char p1 = IsSignedCommand(command) ? (value < 0 ? '-' : '+') : mirror >= 0 ? '+' : 0;
    // While the link is down the category select and the value command are refused alike;
    // asking for the value command alone lets the trace show which setting was not sent.
    if (state_.link_connected == 1 && SendCommand(CategorySelectOf(command), 0, 0) != kResultOk) return 0;
    int result = SendCommand(command, p1, value);
    // The box may refuse a mode change while it is still busy with the previous one ("invalid
    // now"); one more try 100 ms after that reply decides.
    if (command == kADJMD && result == kResultInvalidNow) {
        Ticks().WaitSince(impl_->reply_tick, kAdjustModeRetryMs);
        result = SendCommand(kADJMD, 0, value);
    }
    if (result != kResultOk) return 0;
    AdjustValues& a = impl_->adjust;
    if (mirror >= 0) a[mirror] = value;
    // The memory is decided on the byte the box received (0 = memory 1), so the mirror
    // follows what the box did.
    const int memory = value == 0 ? 3 : 6;
    for (int i = 0; i < 3; ++i) {
        if (command == kMEMSV) a[memory + i] = a[i];
        if (command == kMEMLD) a[i] = a[memory + i];
    }
    if (impl_->taken) impl_->taken(command, value);
    return 1;
}

int RS232c_bios::SetConversion(int32_t v) { return SetValue(kCONVE, v); }
int RS232c_bios::SetInputSelect(int32_t v) { return SetValue(kINPSE, v); }
int RS232c_bios::SetInputPorality(int32_t v) { return SetValue(kBOTHP, v); }
int RS232c_bios::SetSdiOutput(int32_t v) { return SetValue(kSDIMX, v); }
int RS232c_bios::SetHdmiOutput(int32_t v) { return SetValue(kHDMIM, v); }
int RS232c_bios::Set3dFormat(int32_t v) { return SetValue(k3DFOR, v); }
int RS232c_bios::SetRotate(int32_t v) { return SetValue(kSDIRT, v); }
int RS232c_bios::SetFrameSync(int32_t v) { return SetValue(kFRASY, v); }
int RS232c_bios::SetBeep(int32_t v) { return SetValue(kBEEPA, v); }
int RS232c_bios::SetBackLight(int32_t v) { return SetValue(kBACKL, v); }
int RS232c_bios::SaveAdjustMemory(int32_t v) { return SetValue(kMEMSV, v); }
int RS232c_bios::LoadAdjustMemory(int32_t v) { return SetValue(kMEMLD, v); }
int RS232c_bios::SetScopeMode(int32_t v) { return SetValue(kSCMOD, v); }
int RS232c_bios::SetScopeSource(int32_t v) { return SetValue(kSCSIG, v); }
int RS232c_bios::SetScopePosition(int32_t v) { return SetValue(kSCPOS, v); }
int RS232c_bios::SetScopeFilter(int32_t v) { return SetValue(kSCPFI, v); }
int RS232c_bios::SetWfmGain(int32_t v) { return SetValue(kSCWFG, v); }
int RS232c_bios::SetVectorGain(int32_t v) { return SetValue(kSCVEG, v); }
int RS232c_bios::SetAdjustMode(int32_t v) { return SetValue(kADJMD, v); }
int RS232c_bios::SetSplitPosition(int32_t v) { return SetValue(kADJOS, v); }
int RS232c_bios::SetParallax(int32_t v) { return SetValue(kADJPX, v); }
int RS232c_bios::SetIntensity(int32_t v) { return SetValue(kADJIY, v); }
int RS232c_bios::SetSubIntensity(int32_t v) { return SetValue(kADJSI, v); }

RS232c_bios::AdjustValues RS232c_bios::GetAdjustValues() const { return impl_->adjust; }

void RS232c_bios::SetAdjustValues(const AdjustValues& values) { impl_->adjust = values; }

}  // namespace dpx
