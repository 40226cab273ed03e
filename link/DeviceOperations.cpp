// The device operations: one call per box setting, selecting the command's category and
// then sending the value; plus the mirror of the box's adjust values.
#include "common/TickSource.h"
#include "link/LinkImpl.h"

namespace dpx {
namespace {

constexpr uint32_t kAdjustModeRetryMs = 100;

// Only the low 8 bits of an argument reach the box; range checks read them as signed.
int8_t Low8(int32_t v) { return static_cast<int8_t>(static_cast<uint32_t>(v) & 0xFFu); }

// Sends the category select, then the value command. Returns the value command's link
// result, or -1 when the category select failed (the value command is then not sent).
int SelectAndSend(RS232c_bios& link, int category_command, int value_command, char p1, int8_t p2) {
    // While the link is down both are refused alike; asking for the value command alone
    // lets the trace show which setting was not sent.
    if (link.State().link_connected != 1) return link.SendCommand(value_command, p1, p2);
    if (link.SendCommand(category_command, 0, 0) != kResultOk) return -1;
    return link.SendCommand(value_command, p1, p2);
}

int Plain(RS232c_bios& link, int category_command, int value_command, int32_t v) {
    if (link.State().link_virtual) return 1;
    return SelectAndSend(link, category_command, value_command, 0, Low8(v)) == kResultOk ? 1 : 0;
}

// The four signed settings: "-" exactly when the 8-bit value is negative.
int Signed(RS232c_bios& link, int category_command, int value_command, int32_t v, int limit) {
    if (link.State().link_virtual) return 1;
    const int8_t value = Low8(v);
    if (value < -limit || value > limit) return 0;
    return SelectAndSend(link, category_command, value_command, value < 0 ? '-' : '+', value) == kResultOk ? 1 : 0;
}

// Parallax, intensity, sub intensity: 0 to 60; on success the mirror keeps the value.
int AdjustValue(RS232c_bios& link, int value_command, int32_t v, int32_t* mirrored) {
    if (link.State().link_virtual) return 1;
    const int8_t value = Low8(v);
    if (value < 0 || value > 60) return 0;
    if (SelectAndSend(link, kADJUS, value_command, '+', value) != kResultOk) return 0;
    *mirrored = value;
    return 1;
}

}  // namespace

int RS232c_bios::SetConversion(int32_t v) { return Plain(*this, k2D3D, kCONVE, v); }
int RS232c_bios::SetInputSelect(int32_t v) { return Plain(*this, kINPUT, kINPSE, v); }
int RS232c_bios::SetInputPorality(int32_t v) { return Plain(*this, kINPUT, kBOTHP, v); }
int RS232c_bios::SetSdiOutput(int32_t v) { return Plain(*this, kOUTPU, kSDIMX, v); }
int RS232c_bios::SetHdmiOutput(int32_t v) { return Plain(*this, kOUTPU, kHDMIM, v); }
int RS232c_bios::Set3dFormat(int32_t v) { return Plain(*this, kOUTPU, k3DFOR, v); }
int RS232c_bios::SetRotate(int32_t v) { return Plain(*this, kMMENU, kSDIRT, v); }
int RS232c_bios::SetFrameSync(int32_t v) { return Plain(*this, kMMENU, kFRASY, v); }
int RS232c_bios::SetBeep(int32_t v) { return Plain(*this, kMMENU, kBEEPA, v); }
int RS232c_bios::SetBackLight(int32_t v) { return Signed(*this, kMMENU, kBACKL, v, 30); }
int RS232c_bios::SetScopeMode(int32_t v) { return Plain(*this, kSCOPE, kSCMOD, v); }
int RS232c_bios::SetScopeSource(int32_t v) { return Plain(*this, kSCOPE, kSCSIG, v); }
int RS232c_bios::SetScopePosition(int32_t v) { return Plain(*this, kSCOPE, kSCPOS, v); }
int RS232c_bios::SetScopeFilter(int32_t v) { return Plain(*this, kSCOPE, kSCPFI, v); }
int RS232c_bios::SetWfmGain(int32_t v) { return Signed(*this, kSCOPE, kSCWFG, v, 30); }
int RS232c_bios::SetVectorGain(int32_t v) { return Signed(*this, kSCOPE, kSCVEG, v, 30); }
int RS232c_bios::SetSplitPosition(int32_t v) { return Signed(*this, kADJUS, kADJOS, v, 60); }
int RS232c_bios::SetParallax(int32_t v) { return AdjustValue(*this, kADJPX, v, &impl_->adjust[0]); }
int RS232c_bios::SetIntensity(int32_t v) { return AdjustValue(*this, kADJIY, v, &impl_->adjust[1]); }
int RS232c_bios::SetSubIntensity(int32_t v) { return AdjustValue(*this, kADJSI, v, &impl_->adjust[2]); }

// The memory chosen is decided on the byte the box receives (0 = memory 1), so the mirror
// always follows what the box did.
int RS232c_bios::SaveAdjustMemory(int32_t v) {
    if (state_.link_virtual) return 1;
    if (SelectAndSend(*this, kMMENU, kMEMSV, 0, Low8(v)) != kResultOk) return 0;
    AdjustValues& a = impl_->adjust;
    const int memory = Low8(v) == 0 ? 3 : 6;
    for (int i = 0; i < 3; ++i) a[memory + i] = a[i];
    return 1;
}

int RS232c_bios::LoadAdjustMemory(int32_t v) {
    if (state_.link_virtual) return 1;
    if (SelectAndSend(*this, kMMENU, kMEMLD, 0, Low8(v)) != kResultOk) return 0;
    AdjustValues& a = impl_->adjust;
    const int memory = Low8(v) == 0 ? 3 : 6;
    for (int i = 0; i < 3; ++i) a[i] = a[memory + i];
    return 1;
}

// The box may refuse a mode change while it is still busy with the previous one ("invalid
// now"); one more try 100 ms after that reply decides.
int RS232c_bios::SetAdjustMode(int32_t v) {
    if (state_.link_virtual) return 1;
    int result = SelectAndSend(*this, kADJUS, kADJMD, 0, Low8(v));
    if (result == kResultInvalidNow) {
        Ticks().WaitSince(impl_->reply_tick, kAdjustModeRetryMs);
        result = SendCommand(kADJMD, 0, Low8(v));
    }
    return result == kResultOk ? 1 : 0;
}

RS232c_bios::AdjustValues RS232c_bios::GetAdjustValues() const { return impl_->adjust; }

void RS232c_bios::SetAdjustValues(const AdjustValues& values) { impl_->adjust = values; }

}  // namespace dpx
