#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/CommandTable.h"
#include "sim/BoxModel.h"
#include "sim/SimOptions.h"

namespace dpx::sim {
namespace {

SimConfig Parse(std::vector<std::string> args) {
    SimConfig config;
    std::string error;
    EXPECT_TRUE(ParseSimArgs(args, &config, &error)) << error;
    return config;
}

std::string ParseError(std::vector<std::string> args) {
    SimConfig config;
    std::string error;
    EXPECT_FALSE(ParseSimArgs(args, &config, &error));
    return error;
}

Exchange Acked(const char* word) {
    Exchange ex;
    ex.word = word;
    ex.reply = AckReply();
    return ex;
}

FrameSelector Every(uint64_t n) {
    FrameSelector sel;
    sel.every = n;
    return sel;
}

int Classify(const std::vector<uint8_t>& reply) {
    uint8_t buf[kReplyBufferSize] = {};
    std::memcpy(buf, reply.data(), std::min(reply.size(), sizeof buf));
    return ClassifyReply(buf);
}

TEST(SimOptions, EveryOptionIsTakenAndDocumented) {
    const SimConfig c = Parse({"--link", "/tmp/com1", "--log", "f.log", "--state", "s", "--print-state",
                               "--wire", "--delay", "7", "--late", "INPSE", "--late-ms", "0x20", "--cut", "3",
                               "--cut-bytes", "2", "--garble", "BCN10:1", "--drop", "2D/3D", "--nak", "ADJPX=1",
                               "--nak", "CONVE=0xFF", "--adjmd-busy", "250", "--silent-after", "9", "--quiet", "--overtake"});
    EXPECT_EQ(c.link, "/tmp/com1");
    EXPECT_EQ(c.log, "f.log");
    EXPECT_EQ(c.state, "s");
    EXPECT_TRUE(c.print_state && c.wire && c.quiet && !c.help);
    EXPECT_EQ(c.faults.delay_ms, 7u);
    EXPECT_EQ(c.faults.late_ms, 32u);
    EXPECT_EQ(c.faults.cut_bytes, 2u);
    ASSERT_EQ(c.faults.late.size(), 1u);
    EXPECT_EQ(c.faults.late[0].word, "INPSE");
    ASSERT_EQ(c.faults.cut.size(), 1u);
    EXPECT_EQ(c.faults.cut[0].every, 3u);
    ASSERT_EQ(c.faults.garble.size(), 1u);
    EXPECT_EQ(c.faults.garble[0].word, "BCN10");
    EXPECT_EQ(c.faults.garble[0].limit, 1u);
    ASSERT_EQ(c.faults.drop.size(), 1u);
    EXPECT_EQ(c.faults.drop[0].word, "2D/3D");
    EXPECT_EQ(c.box.forced_nak.at("ADJPX"), 1);
    EXPECT_EQ(c.box.forced_nak.at("CONVE"), 0xFF);
    EXPECT_EQ(c.box.adjmd_busy_ms, 250u);
    EXPECT_EQ(c.faults.silent_after, 9u);
    EXPECT_TRUE(c.faults.overtake);
    EXPECT_FALSE(Parse({}).faults.overtake);
    EXPECT_EQ(Parse({"--port", "/dev/ttyUSB0"}).port, "/dev/ttyUSB0");
    EXPECT_TRUE(Parse({"--help"}).help);

    const std::string help = SimHelpText();
    for (const char* opt : {"--link", "--port", "--log", "--quiet", "--state", "--print-state", "--wire",
                            "--delay", "--drop", "--late", "--late-ms", "--cut", "--cut-bytes", "--garble",
                            "--nak", "--adjmd-busy", "--silent-after", "--overtake", "SIGUSR1", "NAK status 0", "NAK status 1", "NAK status 2"})
        EXPECT_NE(help.find(opt), std::string::npos) << opt;
}

TEST(SimOptions, BadArgumentsAreNamed) {
    EXPECT_EQ(ParseError({"--frobnicate", "1"}), "--frobnicate: unknown option (see --help)");
    EXPECT_EQ(ParseError({"stray"}), "stray: unknown argument (see --help)");
    EXPECT_NE(ParseError({"--delay"}).find("missing value"), std::string::npos);
    EXPECT_NE(ParseError({"--delay", "-5"}).find("needs a number"), std::string::npos);
    EXPECT_NE(ParseError({"--delay", "12ms"}).find("needs a number"), std::string::npos);
    EXPECT_NE(ParseError({"--drop", "INPS"}).find("five-character"), std::string::npos);
    EXPECT_NE(ParseError({"--drop", "0"}).find("every Nth"), std::string::npos);
    EXPECT_NE(ParseError({"--late", "INPSE:0"}).find("WORD:K"), std::string::npos);
    EXPECT_NE(ParseError({"--nak", "INPSE=256"}).find("0-255"), std::string::npos);
    EXPECT_NE(ParseError({"--nak", "INPSE"}).find("WORD=STATUS"), std::string::npos);
    EXPECT_NE(ParseError({"--link", "a", "--port", "b"}).find("exclude"), std::string::npos);
}

TEST(FrameSelector, CountWordAndFirstK) {
    FrameSelector every = Every(3);
    std::vector<bool> hits;
    for (uint64_t n = 1; n <= 7; ++n) hits.push_back(every.Hits(n, "INPSE"));
    EXPECT_EQ(hits, (std::vector<bool>{false, false, true, false, false, true, false}));

    FrameSelector first2;
    first2.word = "ADJMD";
    first2.limit = 2;
    hits.clear();
    for (const char* w : {"ADJMD", "ADJUS", "ADJMD", "ADJMD", "ADJMD"}) hits.push_back(first2.Hits(1, w));
    EXPECT_EQ(hits, (std::vector<bool>{true, false, true, false, false}));
}

TEST(PlanReply, FaultsChangeOnlyWhatTheyHit) {
    FaultOptions f;
    f.delay_ms = 4;
    FrameSelector frasy;
    frasy.word = "FRASY";
    FrameSelector sdirt;
    sdirt.word = "SDIRT";
    f.garble.push_back(frasy);
    f.cut.push_back(sdirt);
    f.late.push_back(sdirt);
    f.drop.push_back(Every(4));

    ReplyPlan plain = PlanReply(f, 1, Acked("INPSE"));
    EXPECT_EQ(plain.bytes, AckReply());
    EXPECT_EQ(plain.delay_ms, 4u);
    EXPECT_EQ(plain.fault, "");

    ReplyPlan garbled = PlanReply(f, 2, Acked("FRASY"));
    EXPECT_EQ(garbled.bytes.size(), kFrameSize);
    EXPECT_EQ(garbled.bytes.back(), '\r');
    EXPECT_EQ(Classify(garbled.bytes), kResultUndefined);
    Exchange nak = Acked("FRASY");
    nak.reply = NakReply(2);
    EXPECT_EQ(Classify(PlanReply(f, 3, nak).bytes), kResultUndefined);  // a garbled NAK is no NAK

    ReplyPlan cut_late = PlanReply(f, 5, Acked("SDIRT"));
    const std::vector<uint8_t> ack = AckReply();
    EXPECT_EQ(cut_late.bytes, std::vector<uint8_t>(ack.begin(), ack.begin() + 5));
    EXPECT_EQ(cut_late.delay_ms, 4u + 150u);
    EXPECT_EQ(cut_late.fault, "cut,late");

    ReplyPlan dropped = PlanReply(f, 8, Acked("SDIRT"));
    EXPECT_EQ(dropped.fault, "drop,cut,late");  // dropped: the log still shows what it was

    // A box that falls silent answers nothing after its last answered frame.
    f.silent_after = 12;
    EXPECT_EQ(PlanReply(f, 11, Acked("INPSE")).fault, "");
    EXPECT_EQ(PlanReply(f, 13, Acked("INPSE")).fault, "drop");
    f.silent_after = 0;

    Exchange none = Acked("BCN10");  // a frame for another address: no reply to fault
    none.reply.clear();
    EXPECT_TRUE(PlanReply(f, 12, none).bytes.empty());
}

}  // namespace
}  // namespace dpx::sim
