#include "link/CommandTable.h"

#include <cstring>

namespace dpx {

const std::array<CommandRow, kCommandRows> CommandTable = {{
    {"!00BCN1000\r", 0, 0, "BCN"},
    {"!00BCN0000\r", 0, 0, "BCN"},
    {"!00INPUT00\r", 1, 2, "INPUT"},
    {"!00OUTPU00\r", 1, 3, "OUTPU"},
    {"!00MMENU00\r", 1, 4, "MMENU"},
    {"!00SCOPE00\r", 1, 5, "SCOPE"},
    {"!00ADJUS00\r", 1, 6, "ADJUS"},
    {"!002D/3D00\r", 1, 7, "2D/3D"},
    {"!00INPSE0*\r", 2, 2, "INPSE"},
    {"!00BOTHP0*\r", 2, 2, "BOTHP"},
    {"!00SDIMX0*\r", 3, 3, "SDIMX"},
    {"!00HDMIM0*\r", 3, 3, "HDMIM"},
    {"!003DFOR0*\r", 3, 3, "3DFOR"},
    {"!00SDIRT0*\r", 4, 4, "SDIRT"},
    {"!00FRASY0*\r", 4, 4, "FRASY"},
    {"!00BEEPA0*\r", 4, 4, "BEEPA"},
    {"!00BACKL**\r", 4, 4, "BACKL"},
    {"!00MEMSV0*\r", 4, 4, "MEMSV"},
    {"!00MEMLD0*\r", 4, 4, "MEMLD"},
    {"!00SCMOD0*\r", 5, 5, "SCMOD"},
    {"!00SCSIG0*\r", 5, 5, "SCSIG"},
    {"!00SCPOS0*\r", 5, 5, "SCPOS"},
    {"!00SCPFI0*\r", 5, 5, "SCPFI"},
    {"!00SCWFG**\r", 5, 5, "SCWFG"},
    {"!00SCVEG**\r", 5, 5, "SCVEG"},
    {"!00ADJMD0*\r", 6, 6, "ADJMD"},
    {"!00ADJOS**\r", 6, 6, "ADJOS"},
    {"!00ADJPX0*\r", 6, 6, "ADJPX"},
    {"!00ADJIY0*\r", 6, 6, "ADJIY"},
    {"!00ADJSI0*\r", 6, 6, "ADJSI"},
    {"!00CONVE0*\r", 7, 7, "CONVE"},
    {"@00BOK.000\r", 8, 0, "ACK"},
    {"@00BNGn***\r", 8, 0, "NAK"},
}};

bool IsSignedCommand(int n) {
    return n >= 0 && n < kSendableCommands && CommandTable[n].frame[8] == '*';
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
