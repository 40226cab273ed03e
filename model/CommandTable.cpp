#include "model/CommandTable.h"

#include <cstring>

namespace dpx {

// The device operation of the command refuses, unsent, a value the box would not take.
constexpr bool kChecked = true;

// The value commands also hold the values the box takes; ADJMD takes the codes of both
// adjust modes (1-3 SDI-LR, 4-12 the variants of the three 2D-3D display modes).
const std::array<CommandRow, kCommandRows> CommandTable = {{
    {"!00BCN1000\r", 0, 0, "BCN"},
    {"!00BCN0000\r", 0, 0, "BCN"},
    {"!00INPUT00\r", 1, 2, "INPUT"},
    {"!00OUTPU00\r", 1, 3, "OUTPU"},
    {"!00MMENU00\r", 1, 4, "MMENU"},
    {"!00SCOPE00\r", 1, 5, "SCOPE"},
    {"!00ADJUS00\r", 1, 6, "ADJUS"},
    {"!002D/3D00\r", 1, 7, "2D/3D"},
    {"!00INPSE0*\r", 2, 2, "INPSE", {0, 3}},
    {"!00BOTHP0*\r", 2, 2, "BOTHP", {0, 1}},
    {"!00SDIMX0*\r", 3, 3, "SDIMX", {0, 1}},
    {"!00HDMIM0*\r", 3, 3, "HDMIM", {0, 1}},
    {"!003DFOR0*\r", 3, 3, "3DFOR", {0, 3}},
    {"!00SDIRT0*\r", 4, 4, "SDIRT", {0, 6}},
    {"!00FRASY0*\r", 4, 4, "FRASY", {0, 1}},
    {"!00BEEPA0*\r", 4, 4, "BEEPA", {0, 1}},
    {"!00BACKL**\r", 4, 4, "BACKL", {-30, 30}, kChecked},
    {"!00MEMSV0*\r", 4, 4, "MEMSV", {0, 1}},
    {"!00MEMLD0*\r", 4, 4, "MEMLD", {0, 1}},
    {"!00SCMOD0*\r", 5, 5, "SCMOD", {0, 2}},
    {"!00SCSIG0*\r", 5, 5, "SCSIG", {0, 3}},
    {"!00SCPOS0*\r", 5, 5, "SCPOS", {0, 3}},
    {"!00SCPFI0*\r", 5, 5, "SCPFI", {0, 1}},
    {"!00SCWFG**\r", 5, 5, "SCWFG", {-30, 30}, kChecked},
    {"!00SCVEG**\r", 5, 5, "SCVEG", {-30, 30}, kChecked},
    {"!00ADJMD0*\r", 6, 6, "ADJMD", {0, 12}},
    {"!00ADJOS**\r", 6, 6, "ADJOS", {-60, 60}, kChecked},
    {"!00ADJPX0*\r", 6, 6, "ADJPX", kAdjustValueRange, kChecked},
    {"!00ADJIY0*\r", 6, 6, "ADJIY", kAdjustValueRange, kChecked},
    {"!00ADJSI0*\r", 6, 6, "ADJSI", kAdjustValueRange, kChecked},
    {"!00CONVE0*\r", 7, 7, "CONVE", {0, 1}},
    {"@00BOK.000\r", 8, 0, "ACK"},
    {"@00BNGn***\r", 8, 0, "NAK"},
}};

bool IsSignedCommand(int n) {
    return n >= 0 && n < kSendableCommands && CommandTable[n].frame[8] == '*';
}

bool IsValueCommand(int n) {
    return n >= 0 && n < kSendableCommands && CommandTable[n].kind > kKindCategorySelect;
}

int CategorySelectOf(int n) {
    if (n < 0 || n >= kSendableCommands || CommandTable[n].kind == kKindLogin) return -1;
    for (int s = 0; s < kSendableCommands; ++s)
        if (CommandTable[s].kind == kKindCategorySelect && CommandTable[s].category == CommandTable[n].category)
            return s;
    return -1;
}

int BuildFrame(int n, char p1, uint8_t p2, uint8_t frame[kFrameBufferSize]) {
    if (n < 0 || n >= kSendableCommands) return kResultUnknownCommand;
    std::memcpy(frame, CommandTable[n].frame, kFrameBufferSize);
    if (frame[8] == '*') {
        if (p1 != '+' && p1 != '-') return kResultParameterError;
        frame[8] = static_cast<uint8_t>(p1);
    }
    if (frame[9] == '*') frame[9] = p2;
    return kResultOk;
}

int ClassifyReply(const uint8_t reply[kReplyBufferSize]) {
    if (std::memcmp(reply, kAckFrame, kFrameSize) == 0) return kResultOk;
    if (std::memcmp(reply, kNakPrefix, 6) == 0) {
        switch (reply[6]) {
            case 0x00: return kResultUnknownCommand;
            case 0x01: return kResultParameterError;
            case 0x02: return kResultInvalidNow;
            default: return kResultUndefined;
        }
    }
    return kResultUndefined;
}

int FindCommandByFrameWord(const char word[5]) {
    for (int n = 0; n < kSendableCommands; ++n)
        if (std::memcmp(CommandTable[n].frame + 3, word, 5) == 0) return n;
    return -1;
}

}  // namespace dpx
