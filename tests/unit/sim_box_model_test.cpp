#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/CommandTable.h"
#include "sim/BoxModel.h"

namespace dpx::sim {
namespace {

std::vector<uint8_t> Frame(int n, char p1 = 0, uint8_t p2 = 0) {
    uint8_t f[kFrameBufferSize];
    EXPECT_EQ(BuildFrame(n, p1, p2, f), kResultOk);
    return {f, f + kFrameSize};
}

std::vector<uint8_t> Raw(const char* text) {
    return {text, text + std::strlen(text)};
}

// Sends one frame and returns the reply (empty when the box gave none).
std::vector<uint8_t> Send(BoxModel& box, const std::vector<uint8_t>& frame, uint32_t now = 0) {
    auto out = box.Receive(frame.data(), frame.size(), now);
    return out.empty() ? std::vector<uint8_t>{} : out.back().reply;
}

const std::vector<uint8_t> kAck = AckReply();

class LoggedInBox : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Send(box, Frame(kBCN_Login)), kAck); }
    BoxModel box;
};

TEST(BoxModel, RepliesHaveTheLinkFormats) {
    uint8_t buf[kReplyBufferSize] = {};
    std::memcpy(buf, kAck.data(), kAck.size());
    EXPECT_EQ(ClassifyReply(buf), kResultOk);
    for (uint8_t status : {0, 1, 2}) {
        auto nak = NakReply(status);
        ASSERT_EQ(nak.size(), kFrameSize);
        EXPECT_EQ(nak.back(), '\r');
        std::memset(buf, 0, sizeof buf);
        std::memcpy(buf, nak.data(), nak.size());
        EXPECT_EQ(ClassifyReply(buf), status + 1);
    }
}

TEST(BoxModel, EverythingButLoginIsInvalidBeforeLogin) {
    BoxModel box;
    EXPECT_EQ(Send(box, Frame(kINPUT)), NakReply(2));
    EXPECT_EQ(Send(box, Frame(kBCN_Logoff)), NakReply(2));
    EXPECT_EQ(Send(box, Frame(kBCN_Login)), kAck);
    EXPECT_TRUE(box.State().logged_in);
    EXPECT_EQ(box.State().category, kCategoryNone);
    EXPECT_EQ(Send(box, Frame(kINPUT)), kAck);
    EXPECT_EQ(Send(box, Frame(kBCN_Logoff)), kAck);
    EXPECT_FALSE(box.State().logged_in);
    EXPECT_EQ(box.State().category, kCategoryNone);
    EXPECT_EQ(Send(box, Frame(kINPUT)), NakReply(2));
}

TEST(BoxModel, UnknownWordIsNakZeroEvenBeforeLogin) {
    BoxModel box;
    EXPECT_EQ(Send(box, Raw("!00HELLO00\r")), NakReply(0));
    EXPECT_EQ(box.History().back().command, -1);
    EXPECT_EQ(box.History().back().word, "HELLO");
}

TEST_F(LoggedInBox, ValueCommandNeedsItsCategory) {
    EXPECT_EQ(Send(box, Frame(kINPSE, 0, 1)), NakReply(2));
    ASSERT_EQ(Send(box, Frame(kOUTPU)), kAck);
    EXPECT_EQ(Send(box, Frame(kINPSE, 0, 1)), NakReply(2));
    ASSERT_EQ(Send(box, Frame(kINPUT)), kAck);
    EXPECT_EQ(box.State().category, kCategoryInput);
    EXPECT_EQ(Send(box, Frame(kINPSE, 0, 1)), kAck);
    EXPECT_EQ(Send(box, Frame(kBOTHP, 0, 1)), kAck);
    EXPECT_EQ(box.State().input_select, 1);
    EXPECT_EQ(box.State().input_porality, 1);
    EXPECT_EQ(box.State().category, kCategoryInput);
}

TEST_F(LoggedInBox, ValueRangesAndSigns) {
    struct Case {
        int category, command;
        char sign;
        int value;
        bool taken;
    };
    const Case cases[] = {
        {kINPUT, kINPSE, 0, 3, true},       {kINPUT, kINPSE, 0, 4, false},
        {kOUTPU, k3DFOR, 0, 3, true},       {kOUTPU, k3DFOR, 0, 4, false},
        {kMMENU, kSDIRT, 0, 6, true},       {kMMENU, kSDIRT, 0, 7, false},
        {kMMENU, kBACKL, '-', -30, true},   {kMMENU, kBACKL, '+', 30, true},
        {kMMENU, kBACKL, '+', 0, true},     {kMMENU, kBACKL, '-', -31, false},
        {kMMENU, kBACKL, '+', 31, false},   {kMMENU, kBACKL, '+', -5, false},
        {kMMENU, kBACKL, '-', 5, false},    {kMMENU, kBACKL, '-', 0, false},
        {kMMENU, kMEMSV, 0, 1, true},       {kMMENU, kMEMLD, 0, 2, false},
        {kSCOPE, kSCMOD, 0, 2, true},       {kSCOPE, kSCMOD, 0, 3, false},
        {kSCOPE, kSCVEG, '-', -30, true},   {kSCOPE, kSCWFG, '+', 31, false},
        {kADJUS, kADJMD, 0, 12, true},      {kADJUS, kADJMD, 0, 13, false},
        {kADJUS, kADJOS, '-', -60, true},   {kADJUS, kADJOS, '+', 61, false},
        {kADJUS, kADJPX, 0, 60, true},      {kADJUS, kADJPX, 0, 61, false},
        {kADJUS, kADJPX, 0, 0xFF, false},   {k2D3D, kCONVE, 0, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(CommandTable[c.command].word) + " " + std::to_string(c.value));
        ASSERT_EQ(Send(box, Frame(c.category)), kAck);
        const bool is_signed = IsSignedCommand(c.command);
        auto frame = Frame(c.command, is_signed ? c.sign : '0', static_cast<uint8_t>(c.value));
        EXPECT_EQ(Send(box, frame), c.taken ? kAck : NakReply(1));
    }
    EXPECT_EQ(box.State().back_light, 0);
    EXPECT_EQ(box.State().split_position, -60);
    EXPECT_EQ(box.State().adjust[0], 60);
}

TEST_F(LoggedInBox, ParameterBytesMustMatchTheTemplate) {
    ASSERT_EQ(Send(box, Frame(kADJUS)), kAck);
    EXPECT_EQ(Send(box, Raw("!00ADJPX+\x05\r")), NakReply(1));  // "0*" template, '+' in byte 8
    EXPECT_EQ(Send(box, Raw("!00ADJUS01\r")), NakReply(1));
    EXPECT_EQ(Send(box, Raw("!00ADJOS0\x05\r")), NakReply(1));  // signed without a sign
    EXPECT_EQ(box.State().adjust[0], 13);
}

TEST_F(LoggedInBox, ValueBytesZeroAndCarriageReturnInsideFrames) {
    ASSERT_EQ(Send(box, Frame(kADJUS)), kAck);
    EXPECT_EQ(Send(box, Frame(kADJPX, 0, 0x0D)), kAck);
    EXPECT_EQ(box.State().adjust[0], 13);
    EXPECT_EQ(Send(box, Frame(kADJIY, 0, 0x00)), kAck);
    EXPECT_EQ(box.State().adjust[1], 0);
    EXPECT_EQ(box.Pending(), 0u);
}

TEST_F(LoggedInBox, FramesSplitJoinedAndAfterGarbage) {
    auto a = Frame(kINPUT);
    auto b = Frame(kINPSE, 0, 2);
    std::vector<uint8_t> stream = Raw("xx\r!0");        // noise, then a broken frame start
    stream.insert(stream.end(), a.begin(), a.end());
    stream.insert(stream.end(), b.begin(), b.end());
    std::vector<Exchange> all;
    for (uint8_t byte : stream)  // one byte at a time, as a slow line delivers them
        for (auto& ex : box.Receive(&byte, 1)) all.push_back(ex);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].command, kINPUT);
    EXPECT_EQ(all[1].command, kINPSE);
    EXPECT_EQ(all[1].reply, kAck);
    EXPECT_EQ(box.State().input_select, 2);

    auto c = Frame(kBOTHP, 0, 1);  // two frames in one read
    std::vector<uint8_t> two = c;
    two.insert(two.end(), c.begin(), c.end());
    EXPECT_EQ(box.Receive(two.data(), two.size()).size(), 2u);
}

TEST_F(LoggedInBox, OtherAddressGetsNoReply) {
    EXPECT_TRUE(Send(box, Raw("!01INPUT00\r")).empty());
    EXPECT_EQ(box.State().category, kCategoryNone);
}

TEST_F(LoggedInBox, MemoriesCopyTheCurrentAdjustValues) {
    ASSERT_EQ(Send(box, Frame(kADJUS)), kAck);
    ASSERT_EQ(Send(box, Frame(kADJPX, 0, 5)), kAck);
    ASSERT_EQ(Send(box, Frame(kMMENU)), kAck);
    ASSERT_EQ(Send(box, Frame(kMEMSV, 0, 1)), kAck);
    EXPECT_EQ(box.State().memory2, (std::array<int, 3>{5, 23, 40}));
    EXPECT_EQ(box.State().memory1, (std::array<int, 3>{13, 23, 40}));
    ASSERT_EQ(Send(box, Frame(kADJUS)), kAck);
    ASSERT_EQ(Send(box, Frame(kADJPX, 0, 9)), kAck);
    ASSERT_EQ(Send(box, Frame(kMMENU)), kAck);
    ASSERT_EQ(Send(box, Frame(kMEMLD, 0, 1)), kAck);
    EXPECT_EQ(box.State().adjust[0], 5);
    ASSERT_EQ(Send(box, Frame(kMEMLD, 0, 0)), kAck);
    EXPECT_EQ(box.State().adjust[0], 13);
}

TEST_F(LoggedInBox, ForcedNakLeavesTheSettingAlone) {
    box.Options().forced_nak["INPSE"] = 7;
    ASSERT_EQ(Send(box, Frame(kINPUT)), kAck);
    EXPECT_EQ(Send(box, Frame(kINPSE, 0, 1)), NakReply(7));
    EXPECT_EQ(box.State().input_select, 3);
}

TEST_F(LoggedInBox, AdjustModeBusyAfterAModeChange) {
    box.Options().adjmd_busy_ms = 50;
    ASSERT_EQ(Send(box, Frame(kADJUS), 0), kAck);
    EXPECT_EQ(Send(box, Frame(kADJMD, 0, 0), 0), kAck);  // no change: no busy time
    EXPECT_EQ(Send(box, Frame(kADJMD, 0, 4), 10), kAck);
    EXPECT_EQ(Send(box, Frame(kADJMD, 0, 6), 59), NakReply(2));
    EXPECT_EQ(box.State().adjust_mode, 4);
    EXPECT_EQ(Send(box, Frame(kADJMD, 0, 6), 60), kAck);
    ASSERT_EQ(Send(box, Frame(k2D3D), 100), kAck);
    ASSERT_EQ(Send(box, Frame(kCONVE, 0, 1), 100), kAck);
    ASSERT_EQ(Send(box, Frame(kADJUS), 101), kAck);
    EXPECT_EQ(Send(box, Frame(kADJMD, 0, 6), 120), NakReply(2));
    ASSERT_EQ(Send(box, Frame(kADJPX, 0, 1), 120), kAck);  // only ADJMD is held back
}

TEST_F(LoggedInBox, DumpNamesTheSettingsKeys) {
    ASSERT_EQ(Send(box, Frame(kADJUS)), kAck);
    ASSERT_EQ(Send(box, Frame(kADJMD, 0, 2)), kAck);
    ASSERT_EQ(Send(box, Frame(kADJOS, '-', static_cast<uint8_t>(-12))), kAck);
    auto values = ParseDump(box.Dump());
    EXPECT_EQ(values.at("logged_in"), 1);
    EXPECT_EQ(values.at("category"), kCategoryAdjust);
    EXPECT_EQ(values.at("frames"), 4);
    EXPECT_EQ(values.at("sys_input_select"), 3);
    EXPECT_EQ(values.at("sys_LRadj_mode"), 2);
    EXPECT_EQ(values.at("sys_adj3d_mode"), 0);
    EXPECT_EQ(values.at("sys_LRadj_split"), -12);
    EXPECT_EQ(values.at("sys_save2_subi"), 40);
    EXPECT_NE(box.Dump().find("sys_input_select = 3\n"), std::string::npos);
}

TEST(BoxModelText, EscapesAndHex) {
    const uint8_t bytes[] = {'!', '0', 0x00, 0x0D, 0xFB, '\\'};
    EXPECT_EQ(EscapeBytes(bytes, sizeof bytes), "!0\\x00\\r\\xFB\\\\");
    EXPECT_EQ(HexBytes(bytes, 3), "21 30 00");
}

}  // namespace
}  // namespace dpx::sim
