// The device operations: category select then value command, range checks, the ADJMD
// retry and the mirror of the adjust values.
#include "tests/unit/link_fixture.h"

using namespace std::string_literals;

namespace dpx::test {
namespace {

using Operation = int (RS232c_bios::*)(int32_t);

struct OpCase {
    const char* name;
    Operation op;
    const char* select;  // the category select frame
    const char* word;    // the value command word
    int low, high;       // accepted range of the 8-bit value (-128..127: no check)
    bool is_signed;
};

const std::vector<OpCase> kOps = {
    {"SetConversion", &RS232c_bios::SetConversion, "!002D/3D00\r", "CONVE", -128, 127, false},
    {"SetInputSelect", &RS232c_bios::SetInputSelect, "!00INPUT00\r", "INPSE", -128, 127, false},
    {"SetInputPorality", &RS232c_bios::SetInputPorality, "!00INPUT00\r", "BOTHP", -128, 127, false},
    {"SetSdiOutput", &RS232c_bios::SetSdiOutput, "!00OUTPU00\r", "SDIMX", -128, 127, false},
    {"SetHdmiOutput", &RS232c_bios::SetHdmiOutput, "!00OUTPU00\r", "HDMIM", -128, 127, false},
    {"Set3dFormat", &RS232c_bios::Set3dFormat, "!00OUTPU00\r", "3DFOR", -128, 127, false},
    {"SetRotate", &RS232c_bios::SetRotate, "!00MMENU00\r", "SDIRT", -128, 127, false},
    {"SetFrameSync", &RS232c_bios::SetFrameSync, "!00MMENU00\r", "FRASY", -128, 127, false},
    {"SetBeep", &RS232c_bios::SetBeep, "!00MMENU00\r", "BEEPA", -128, 127, false},
    {"SetBackLight", &RS232c_bios::SetBackLight, "!00MMENU00\r", "BACKL", -30, 30, true},
    {"SaveAdjustMemory", &RS232c_bios::SaveAdjustMemory, "!00MMENU00\r", "MEMSV", -128, 127, false},
    {"LoadAdjustMemory", &RS232c_bios::LoadAdjustMemory, "!00MMENU00\r", "MEMLD", -128, 127, false},
    {"SetScopeMode", &RS232c_bios::SetScopeMode, "!00SCOPE00\r", "SCMOD", -128, 127, false},
    {"SetScopeSource", &RS232c_bios::SetScopeSource, "!00SCOPE00\r", "SCSIG", -128, 127, false},
    {"SetScopePosition", &RS232c_bios::SetScopePosition, "!00SCOPE00\r", "SCPOS", -128, 127, false},
    {"SetScopeFilter", &RS232c_bios::SetScopeFilter, "!00SCOPE00\r", "SCPFI", -128, 127, false},
    {"SetWfmGain", &RS232c_bios::SetWfmGain, "!00SCOPE00\r", "SCWFG", -30, 30, true},
    {"SetVectorGain", &RS232c_bios::SetVectorGain, "!00SCOPE00\r", "SCVEG", -30, 30, true},
    {"SetAdjustMode", &RS232c_bios::SetAdjustMode, "!00ADJUS00\r", "ADJMD", -128, 127, false},
    {"SetSplitPosition", &RS232c_bios::SetSplitPosition, "!00ADJUS00\r", "ADJOS", -60, 60, true},
    {"SetParallax", &RS232c_bios::SetParallax, "!00ADJUS00\r", "ADJPX", 0, 60, false},
    {"SetIntensity", &RS232c_bios::SetIntensity, "!00ADJUS00\r", "ADJIY", 0, 60, false},
    {"SetSubIntensity", &RS232c_bios::SetSubIntensity, "!00ADJUS00\r", "ADJSI", 0, 60, false},
};

std::string ValueFrame(const OpCase& c, int8_t v) {
    std::string f = std::string("!00") + c.word;
    f += c.is_signed ? (v < 0 ? '-' : '+') : '0';
    f += static_cast<char>(v);
    return f + '\r';
}

class Operations : public LinkTest {
protected:
    void SetUp() override {
        Connect();
        AckEverything();
    }
    int Call(const OpCase& c, int32_t v) { return (link.*c.op)(v); }
    std::vector<std::string> Sent() {
        std::vector<std::string> texts;
        for (const Frame& f : port->frames) texts.push_back(Text(f));
        port->frames.clear();
        return texts;
    }
};

// Every operation over every 8-bit value: out of range sends nothing; in range selects the
// category once, then sends the value with its sign.
TEST_F(Operations, EveryOperationEveryValue) {
    for (const OpCase& c : kOps) {
        seam.State(link).link_category = kCategoryUnknown;
        bool selected = false;
        for (int v = -128; v <= 127; ++v) {
            const bool in_range = v >= c.low && v <= c.high;
            const int before = link.State().link_category;
            ASSERT_EQ(Call(c, v), in_range ? 1 : 0) << c.name << " " << v;
            std::vector<std::string> expected;
            if (in_range && !selected) expected.push_back(c.select);
            if (in_range) expected.push_back(ValueFrame(c, static_cast<int8_t>(v)));
            ASSERT_EQ(Sent(), expected) << c.name << " " << v;
            if (!in_range) {
                ASSERT_EQ(link.State().link_category, before) << c.name;
            }
            selected = selected || in_range;
        }
    }
    EXPECT_TRUE(messages.texts.empty());
}

// Only the low 8 bits reach the box, and the range check reads them as a signed number.
TEST_F(Operations, OnlyTheLowByteCounts) {
    EXPECT_EQ(link.SetBackLight(256 + 5), 1);
    EXPECT_EQ(link.SetBackLight(0x1FF), 1);   // low byte 0xFF: -1
    EXPECT_EQ(link.SetBackLight(-30), 1);
    EXPECT_EQ(link.SetBackLight(31), 0);
    EXPECT_EQ(link.SetBackLight(-31), 0);
    EXPECT_EQ(link.SetParallax(200), 0);      // low byte 0xC8: -56
    EXPECT_EQ(link.SetInputSelect(0x102), 1);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"!00MMENU00\r", "!00BACKL+\x05\r", "!00BACKL-\xFF\r",
                                                "!00BACKL-\xE2\r", "!00INPUT00\r", "!00INPSE0\x02\r"}));
    EXPECT_EQ(link.State().link_category, kCategoryInput);
}

TEST_F(Operations, SameCategoryTwiceSendsThreeFrames) {
    EXPECT_EQ(link.SetInputSelect(1), 1);
    EXPECT_EQ(link.SetInputPorality(1), 1);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"!00INPUT00\r", "!00INPSE0\x01\r", "!00BOTHP0\x01\r"}));
}

TEST_F(Operations, FailedSelectSendsNoValue) {
    link.SetDebugMode(0);
    port->replies = {Nak(2)};
    EXPECT_EQ(link.SetScopeMode(1), 0);
    EXPECT_EQ(Sent(), std::vector<std::string>{"!00SCOPE00\r"});
    port->replies = {Ack(), Nak(1)};
    EXPECT_EQ(link.SetScopeMode(1), 0);  // the value command's failure
    EXPECT_EQ(Sent(), (std::vector<std::string>{"!00SCOPE00\r", "!00SCMOD0\x01\r"}));
    EXPECT_EQ(link.State().link_category, kCategoryScope);
    EXPECT_EQ(link.SetScopeMode(0), 1);
    EXPECT_EQ(Sent(), std::vector<std::string>{"!00SCMOD0\x00\r"s});
}

TEST_F(Operations, NotConnectedFails) {
    link.SetDebugMode(0);
    ASSERT_EQ(link.ConnectLink(0), 1);
    port->frames.clear();
    for (const OpCase& c : kOps) EXPECT_EQ(Call(c, 1), 0) << c.name;
    EXPECT_TRUE(port->frames.empty());
}

TEST_F(Operations, VirtualModeSucceedsAndChangesNothing) {
    link.SetVirtualMode(1);
    const RS232c_bios::AdjustValues before = link.GetAdjustValues();
    for (const OpCase& c : kOps) {
        for (int32_t v : {0, 5, 99, -99, 1000}) EXPECT_EQ(Call(c, v), 1) << c.name << " " << v;
    }
    EXPECT_TRUE(port->frames.empty());
    EXPECT_EQ(link.GetAdjustValues(), before);
    EXPECT_EQ(link.State().link_category, kCategoryUnknown);
}

// "Invalid now" for ADJMD: one more try 100 ms after that reply, without a new select.
TEST_F(Operations, AdjustModeRetriesAfterInvalidNow) {
    link.SetDebugMode(0);
    port->replies = {Ack(), Nak(2, 9), Ack()};
    EXPECT_EQ(link.SetAdjustMode(4), 1);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"!00ADJUS00\r", "!00ADJMD0\x04\r", "!00ADJMD0\x04\r"}));
    ASSERT_EQ(port->write_ticks.size(), 3u);
    EXPECT_EQ(port->write_ticks[2], port->write_ticks[1] + 9 + 100);
    EXPECT_EQ(link.State().link_category, kCategoryAdjust);

    port->replies = {Nak(2), Nak(2)};  // the second answer decides
    EXPECT_EQ(link.SetAdjustMode(0), 0);
    EXPECT_EQ(Sent().size(), 2u);

    port->replies = {Nak(1)};  // other refusals are not retried
    EXPECT_EQ(link.SetAdjustMode(0), 0);
    EXPECT_EQ(Sent().size(), 1u);

    port->replies = {Nak(2), Ack()};
    EXPECT_EQ(link.SetAdjustMode(0), 1);
    EXPECT_EQ(Sent().size(), 2u);
}

using Values = RS232c_bios::AdjustValues;

TEST_F(Operations, AdjustValueMirror) {
    EXPECT_EQ(link.GetAdjustValues(), (Values{13, 23, 40, 13, 23, 40, 13, 23, 40}));
    link.SetAdjustValues({1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(link.GetAdjustValues(), (Values{1, 2, 3, 4, 5, 6, 7, 8, 9}));

    EXPECT_EQ(link.SetParallax(60), 1);
    EXPECT_EQ(link.SetIntensity(0), 1);
    EXPECT_EQ(link.SetSubIntensity(256 + 7), 1);  // the box gets 7, and so does the mirror
    EXPECT_EQ(link.SetParallax(61), 0);
    EXPECT_EQ(link.GetAdjustValues(), (Values{60, 0, 7, 4, 5, 6, 7, 8, 9}));

    link.SetDebugMode(0);
    port->replies = {Nak(1)};
    EXPECT_EQ(link.SetIntensity(30), 0);  // a refused value is not mirrored
    EXPECT_EQ(link.GetAdjustValues()[1], 0);

    EXPECT_EQ(link.SaveAdjustMemory(1), 1);
    EXPECT_EQ(link.GetAdjustValues(), (Values{60, 0, 7, 4, 5, 6, 60, 0, 7}));
    EXPECT_EQ(link.SetParallax(5), 1);
    EXPECT_EQ(link.LoadAdjustMemory(1), 1);
    EXPECT_EQ(link.GetAdjustValues(), (Values{60, 0, 7, 4, 5, 6, 60, 0, 7}));
    EXPECT_EQ(link.LoadAdjustMemory(0), 1);
    EXPECT_EQ(link.GetAdjustValues(), (Values{4, 5, 6, 4, 5, 6, 60, 0, 7}));
    EXPECT_EQ(link.SetParallax(33), 1);
    EXPECT_EQ(link.SaveAdjustMemory(0), 1);
    EXPECT_EQ(link.GetAdjustValues(), (Values{33, 5, 6, 33, 5, 6, 60, 0, 7}));

    // Failed memory operations change nothing.
    port->replies = {Nak(2)};
    seam.State(link).link_category = kCategoryUnknown;
    EXPECT_EQ(link.SaveAdjustMemory(1), 0);
    port->replies = {Ack(), Nak(1)};
    EXPECT_EQ(link.LoadAdjustMemory(1), 0);
    EXPECT_EQ(link.GetAdjustValues(), (Values{33, 5, 6, 33, 5, 6, 60, 0, 7}));

    // The memory follows the byte the box receives: 256 reaches it as 0, memory 1.
    EXPECT_EQ(link.SetParallax(44), 1);
    EXPECT_EQ(link.SaveAdjustMemory(256), 1);
    EXPECT_EQ(link.GetAdjustValues(), (Values{44, 5, 6, 44, 5, 6, 60, 0, 7}));
}

}  // namespace
}  // namespace dpx::test
