#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/CommandTable.h"

namespace dpx {
namespace {

enum class Param { kNone, kValue, kSigned };

struct Expected {
    const char* word;  // bytes 3-7 of the frame
    int kind;
    int category;
    Param param;
};

// The 31 sendable commands, written from the protocol's description of each command.
const std::vector<Expected> kSendable = {
    {"BCN10", 0, 0, Param::kNone},  {"BCN00", 0, 0, Param::kNone},  {"INPUT", 1, 2, Param::kNone},
    {"OUTPU", 1, 3, Param::kNone},  {"MMENU", 1, 4, Param::kNone},  {"SCOPE", 1, 5, Param::kNone},
    {"ADJUS", 1, 6, Param::kNone},  {"2D/3D", 1, 7, Param::kNone},  {"INPSE", 2, 2, Param::kValue},
    {"BOTHP", 2, 2, Param::kValue}, {"SDIMX", 3, 3, Param::kValue}, {"HDMIM", 3, 3, Param::kValue},
    {"3DFOR", 3, 3, Param::kValue}, {"SDIRT", 4, 4, Param::kValue}, {"FRASY", 4, 4, Param::kValue},
    {"BEEPA", 4, 4, Param::kValue}, {"BACKL", 4, 4, Param::kSigned}, {"MEMSV", 4, 4, Param::kValue},
    {"MEMLD", 4, 4, Param::kValue}, {"SCMOD", 5, 5, Param::kValue}, {"SCSIG", 5, 5, Param::kValue},
    {"SCPOS", 5, 5, Param::kValue}, {"SCPFI", 5, 5, Param::kValue}, {"SCWFG", 5, 5, Param::kSigned},
    {"SCVEG", 5, 5, Param::kSigned}, {"ADJMD", 6, 6, Param::kValue}, {"ADJOS", 6, 6, Param::kSigned},
    {"ADJPX", 6, 6, Param::kValue}, {"ADJIY", 6, 6, Param::kValue}, {"ADJSI", 6, 6, Param::kValue},
    {"CONVE", 7, 7, Param::kValue},
};

std::string FrameOf(const uint8_t* frame) { return std::string(reinterpret_cast<const char*>(frame), kFrameSize); }

// What must go out for row n with the given parameters.
std::string ExpectedFrame(int n, char p1, uint8_t p2) {
    const Expected& e = kSendable[n];
    std::string f = std::string("!00") + e.word;
    switch (e.param) {
        case Param::kNone: f += "00"; break;
        case Param::kValue: f += '0'; f += static_cast<char>(p2); break;
        case Param::kSigned: f += p1; f += static_cast<char>(p2); break;
    }
    return f + '\r';
}

TEST(CommandTable, RowsHoldTheTemplatesKindsAndCategories) {
    ASSERT_EQ(kSendable.size(), static_cast<std::size_t>(kSendableCommands));
    for (int n = 0; n < kSendableCommands; ++n) {
        const Expected& e = kSendable[n];
        const CommandRow& row = CommandTable[n];
        std::string tail = e.param == Param::kNone ? "00" : e.param == Param::kValue ? "0*" : "**";
        EXPECT_EQ(std::string(row.frame, kFrameSize), std::string("!00") + e.word + tail + "\r") << n;
        EXPECT_EQ(row.frame[11], '\0') << n;
        EXPECT_EQ(row.kind, e.kind) << n;
        EXPECT_EQ(row.category, e.category) << n;
        EXPECT_EQ(IsSignedCommand(n), e.param == Param::kSigned) << n;
    }
    EXPECT_EQ(std::string(CommandTable[kReplyAck].frame), "@00BOK.000\r");
    EXPECT_EQ(std::string(CommandTable[kReplyNak].frame), "@00BNGn***\r");
    EXPECT_EQ(CommandTable[kReplyAck].kind, kKindReply);
    EXPECT_EQ(CommandTable[kReplyNak].kind, kKindReply);
    EXPECT_FALSE(IsSignedCommand(kReplyNak));  // its '*' bytes are not parameters
    EXPECT_FALSE(IsSignedCommand(-1));
}

TEST(CommandTable, FrameWordsFindTheirRows) {
    for (int n = 0; n < kSendableCommands; ++n) EXPECT_EQ(FindCommandByFrameWord(kSendable[n].word), n);
    EXPECT_EQ(FindCommandByFrameWord("BOK.0"), -1);  // reply rows are not commands
    EXPECT_EQ(FindCommandByFrameWord("XXXXX"), -1);
}

// Every row, every value byte, both signs and a spread of unusable first parameters.
TEST(BuildFrame, EveryRowEveryValueByte) {
    const char kFirstParams[] = {'+', '-', 0, '0', '*', ' ', 'x', static_cast<char>(0xAB)};
    for (int n = 0; n < kSendableCommands; ++n) {
        for (int v = 0; v < 256; ++v) {
            for (char p1 : kFirstParams) {
                uint8_t frame[kFrameBufferSize];
                std::memset(frame, 0xEE, sizeof frame);
                const int r = BuildFrame(n, p1, static_cast<uint8_t>(v), frame);
                const bool sign = p1 == '+' || p1 == '-';
                if (kSendable[n].param == Param::kSigned && !sign) {
                    ASSERT_EQ(r, kResultParameterError) << n << " p1 " << int(p1);
                    continue;
                }
                ASSERT_EQ(r, kResultOk) << n;
                ASSERT_EQ(FrameOf(frame), ExpectedFrame(n, p1, static_cast<uint8_t>(v)))
                    << "row " << n << " p1 " << int(p1) << " value " << v;
                ASSERT_EQ(frame[11], 0) << n;
            }
        }
    }
}

TEST(BuildFrame, KnownFrames) {
    uint8_t frame[kFrameBufferSize];
    ASSERT_EQ(BuildFrame(kINPSE, 0, 1, frame), kResultOk);
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + kFrameSize),
              (std::vector<uint8_t>{0x21, 0x30, 0x30, 0x49, 0x4E, 0x50, 0x53, 0x45, 0x30, 0x01, 0x0D}));

    ASSERT_EQ(BuildFrame(kBACKL, '-', static_cast<uint8_t>(-5), frame), kResultOk);
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + kFrameSize),
              (std::vector<uint8_t>{0x21, 0x30, 0x30, 0x42, 0x41, 0x43, 0x4B, 0x4C, 0x2D, 0xFB, 0x0D}));
    ASSERT_EQ(BuildFrame(kBACKL, '+', 0, frame), kResultOk);
    EXPECT_EQ(frame[8], '+');
    EXPECT_EQ(frame[9], 0x00);

    // A value of 13 puts a carriage return inside the frame; the frame is still 11 bytes.
    ASSERT_EQ(BuildFrame(kADJPX, '+', 13, frame), kResultOk);
    EXPECT_EQ(frame[8], '0');  // a "0*" template ignores the first parameter
    EXPECT_EQ(frame[9], 0x0D);
    EXPECT_EQ(frame[10], 0x0D);
}

TEST(BuildFrame, RowsOutsideTheSendableRangeAreUnknown) {
    uint8_t frame[kFrameBufferSize] = {};
    for (int n : {-1, int{kReplyAck}, int{kReplyNak}, 33, 1000})
        EXPECT_EQ(BuildFrame(n, '+', 0, frame), kResultUnknownCommand) << n;
}

std::vector<uint8_t> Buffer(const std::string& bytes) {
    std::vector<uint8_t> b(kReplyBufferSize, 0);
    std::memcpy(b.data(), bytes.data(), std::min(bytes.size(), kReplyBufferSize));
    return b;
}

TEST(ClassifyReply, AckMustBeAllElevenBytes) {
    EXPECT_EQ(ClassifyReply(Buffer("@00BOK.000\r").data()), kResultOk);
    EXPECT_EQ(ClassifyReply(Buffer("@00BOK.000\rXYZ").data()), kResultOk);  // bytes past 10 are not examined
    EXPECT_EQ(ClassifyReply(Buffer("@00BOK.000").data()), kResultUndefined);
    EXPECT_EQ(ClassifyReply(Buffer("").data()), kResultUndefined);
    // Any single damaged byte makes it unknown.
    for (std::size_t i = 0; i < kFrameSize; ++i) {
        for (int b : {0x00, 0x0D, 0x30, 0x7F, 0xFF}) {
            std::string text = "@00BOK.000\r";
            if (static_cast<uint8_t>(text[i]) == b) continue;
            text[i] = static_cast<char>(b);
            std::vector<uint8_t> buffer = Buffer(text);
            buffer[i] = static_cast<uint8_t>(b);
            EXPECT_EQ(ClassifyReply(buffer.data()), kResultUndefined) << "byte " << i << " = " << b;
        }
    }
}

TEST(ClassifyReply, NakStatusIsARawByte) {
    for (int status = 0; status < 256; ++status) {
        std::vector<uint8_t> buffer = Buffer("@00BNG");
        buffer[6] = static_cast<uint8_t>(status);
        buffer[7] = '\r';  // an 8-byte NAK counts as well: only bytes 0-6 are examined
        const int expected = status == 0 ? 1 : status == 1 ? 2 : status == 2 ? 3 : 4;
        EXPECT_EQ(ClassifyReply(buffer.data()), expected) << status;
    }
    EXPECT_EQ(ClassifyReply(Buffer("@00BNG1000\r").data()), kResultUndefined);  // digit '1' is not status 1
    EXPECT_EQ(ClassifyReply(Buffer("@00BN").data()), kResultUndefined);
    EXPECT_EQ(ClassifyReply(Buffer("!00BNG").data()), kResultUndefined);
}

}  // namespace
}  // namespace dpx
