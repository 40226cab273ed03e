#pragma once
// The box's command vocabulary: frame templates, kinds and categories, building a frame
// from a row and two parameters, and classifying a reply. Pure functions, no I/O.
#include <array>
#include <cstddef>
#include <cstdint>

namespace dpx {

constexpr std::size_t kFrameSize = 11;        // bytes sent for every command
constexpr std::size_t kFrameBufferSize = 12;  // template plus a terminating zero
constexpr std::size_t kReplyBufferSize = 16;  // zero-filled reply buffer
constexpr int kSendableCommands = 31;         // rows 0-30 may be sent
constexpr int kCommandRows = 33;              // rows 31 and 32 are the reply frames

// Link result codes.
enum LinkResult : int {
    kResultOk = 0,             // ACK, or nothing had to be sent
    kResultUnknownCommand = 1, // NAK status 0, or command number outside 0-30
    kResultParameterError = 2, // NAK status 1, or signed command without a sign
    kResultInvalidNow = 3,     // NAK status 2
    kResultUndefined = 4,      // NAK with another status, or neither ACK nor NAK
    kResultTimeout = 5,
    kResultNotSent = 6,        // not connected, or incomplete write
    // A reply came that no frame was owed: replies and frames are out of step, so no reply
    // of the transaction can be told to be its own (see RS232c_bios::ReadOwedReplies).
    kResultOutOfStep = 7,
};

// Category codes: the menu category the box is in.
enum Category : int {
    kCategoryNone = 0,  // after login or logoff
    kCategoryInput = 2,
    kCategoryOutput = 3,
    kCategoryMainMenu = 4,
    kCategoryScope = 5,
    kCategoryAdjust = 6,
    kCategory2D3D = 7,
    kCategoryUnknown = 9,
};

// Kinds: 0 login/logoff, 1 category select, 2-7 value command of that category, 8 reply.
constexpr int kKindLogin = 0;
constexpr int kKindCategorySelect = 1;
constexpr int kKindReply = 8;

// Command numbers, named after their command words.
enum Command : int {
    kBCN_Login = 0, kBCN_Logoff = 1,
    kINPUT = 2, kOUTPU = 3, kMMENU = 4, kSCOPE = 5, kADJUS = 6, k2D3D = 7,
    kINPSE = 8, kBOTHP = 9,
    kSDIMX = 10, kHDMIM = 11, k3DFOR = 12,
    kSDIRT = 13, kFRASY = 14, kBEEPA = 15, kBACKL = 16, kMEMSV = 17, kMEMLD = 18,
    kSCMOD = 19, kSCSIG = 20, kSCPOS = 21, kSCPFI = 22, kSCWFG = 23, kSCVEG = 24,
    kADJMD = 25, kADJOS = 26, kADJPX = 27, kADJIY = 28, kADJSI = 29,
    kCONVE = 30,
    kReplyAck = 31, kReplyNak = 32,
};

// The values a command or a setting takes: low to high and, when `only` is not 0, just the
// values whose bit is set in it (then 0 <= low and high < 32).
struct ValueRange {
    int32_t low = 0;
    int32_t high = 0;
    uint32_t only = 0;

    constexpr bool Holds(int32_t v) const {
        return v >= low && v <= high && (only == 0 || (only >> v & 1u) != 0);
    }
};

// The parallax, intensity and sub intensity, on the box and in its two adjust memories.
inline constexpr ValueRange kAdjustValueRange{0, 60};

struct CommandRow {
    char frame[kFrameBufferSize];  // 11 template bytes and a zero that is never sent
    int kind;
    int category;                  // category code after the command succeeds
    const char* word;              // five-character command word ("BCN" for login/logoff)
    ValueRange values{};           // what the box takes in a value command (as a signed byte
                                   // for the signed commands); refused with NAK status 1
    bool checked = false;          // the device operation refuses other values unsent
};

extern const std::array<CommandRow, kCommandRows> CommandTable;

inline constexpr char kAckFrame[] = "@00BOK.000\r";
inline constexpr char kNakPrefix[] = "@00BNG";
inline constexpr char kReplyStart = '@';  // the first byte of every reply, ACK or NAK

// True for the rows whose byte 8 takes a sign character (BACKL, SCWFG, SCVEG, ADJOS).
bool IsSignedCommand(int n);
// True for the value commands (kinds 2 to 7).
bool IsValueCommand(int n);
// The category select of command n's category (kADJUS for kADJPX), or -1 for a row that
// belongs to no category.
int CategorySelectOf(int n);

// Builds the frame of row n (0-30) into `frame` (12 bytes, byte 11 zero).
// Returns kResultOk, or kResultParameterError when a signed row gets p1 other than '+'/'-'
// (the frame is then left as the plain template). Rows outside 0-30 give kResultUnknownCommand.
int BuildFrame(int n, char p1, uint8_t p2, uint8_t frame[kFrameBufferSize]);

// Classifies a reply held in a zero-filled 16-byte buffer: 0 ACK, 1/2/3 NAK status 0/1/2,
// 4 for a NAK of another status or anything that is neither ACK nor NAK.
int ClassifyReply(const uint8_t reply[kReplyBufferSize]);

// Index of a command word in the table (first match, rows 0-30), or -1. "BCN10"/"BCN00"
// name the login and logoff frames, whose bytes 3-7 hold those texts.
int FindCommandByFrameWord(const char word[5]);

}  // namespace dpx
