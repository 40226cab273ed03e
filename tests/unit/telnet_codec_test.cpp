// The Telnet side of an RFC 2217 port on bytes: what is data and what is the server's.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "telnet/TelnetCodec.h"

namespace dpx::platform {
namespace {

using Bytes = TelnetCodec::Bytes;
constexpr uint8_t IAC = TelnetCodec::kIac, SB = TelnetCodec::kSb, SE = TelnetCodec::kSe;
constexpr uint8_t WILL = TelnetCodec::kWill, WONT = TelnetCodec::kWont, DO = TelnetCodec::kDo,
                  DONT = TelnetCodec::kDont, COM = TelnetCodec::kComPortOption;

struct Fed {
    Bytes data, answer;
};
Fed Feed(TelnetCodec& codec, const Bytes& in) {
    Fed out;
    codec.Feed(in.data(), in.size(), &out.data, &out.answer);
    return out;
}

TEST(TelnetCodec, NegotiationAcceptsOurOptionsAndDeclinesTheRest) {
    const Bytes start = TelnetCodec::Start();
    EXPECT_EQ(Bytes(start.begin(), start.begin() + 3), (Bytes{IAC, WILL, COM}));

    // What ser2net sends on a new connection: suppress go-ahead and echo offered, binary
    // both ways, and the COM-PORT-OPTION asked for.
    TelnetCodec codec;
    const Fed fed = Feed(codec, {IAC, WILL, 3, IAC, DO, 3, IAC, WILL, 1, IAC, DONT, 1, IAC, DO, 0, IAC, WILL, 0,
                                 IAC, DO, COM});
    EXPECT_TRUE(fed.data.empty());
    EXPECT_EQ(codec.ComPort(), TelnetCodec::Option::kAccepted);
    EXPECT_EQ(fed.answer, (Bytes{IAC, DONT, 3, IAC, WONT, 3, IAC, DONT, 1}));

    TelnetCodec refusing;
    EXPECT_TRUE(Feed(refusing, {IAC, DONT, COM}).answer.empty());
    EXPECT_EQ(refusing.ComPort(), TelnetCodec::Option::kRefused);
}

// The server's own offer of the option is taken once; binary taken back is acknowledged;
// data before its answer to a purge is stale.
TEST(TelnetCodec, WhatTheServerAsksAndAnswersIsFollowed) {
    using Option = TelnetCodec::Option;
    TelnetCodec codec;
    EXPECT_EQ(Feed(codec, {IAC, WILL, COM}).answer, (Bytes{IAC, DO, COM}));
    EXPECT_TRUE(Feed(codec, {IAC, WILL, COM}).answer.empty());
    EXPECT_TRUE(Feed(codec, {IAC, DO, TelnetCodec::kBinary, IAC, WILL, TelnetCodec::kBinary}).answer.empty());
    EXPECT_EQ(codec.BinaryFromServer(), Option::kAccepted);
    EXPECT_EQ(Feed(codec, {IAC, DONT, TelnetCodec::kBinary}).answer, (Bytes{IAC, WONT, TelnetCodec::kBinary}));
    EXPECT_EQ(codec.BinaryToServer(), Option::kRefused);

    Bytes in = {0x41};
    const Bytes purged = TelnetCodec::Command(TelnetCodec::kPurgeData + TelnetCodec::kServerOffset, TelnetCodec::kPurgeBoth);
    in.insert(in.end(), purged.begin(), purged.end());
    in.push_back(0x42);
    EXPECT_EQ(Feed(codec, in).data, Bytes{0x42});
    EXPECT_TRUE(codec.Purged());
    EXPECT_FALSE(codec.Purged());
}

TEST(TelnetCodec, IacIsDoubledGoingOutAndUndoneComingIn) {
    const Bytes frame = {0x21, 0x30, 0xFF, 0x0D, 0xFF};
    EXPECT_EQ(TelnetCodec::EncodeData(frame.data(), frame.size()), (Bytes{0x21, 0x30, 0xFF, 0xFF, 0x0D, 0xFF, 0xFF}));
    EXPECT_EQ(TelnetCodec::Command(TelnetCodec::kSetParity, 0xFF), (Bytes{IAC, SB, COM, 3, 0xFF, 0xFF, IAC, SE}));

    TelnetCodec codec;
    // A doubled IAC split between two reads is still one data byte.
    Bytes data = Feed(codec, {0x21, 0xFF, 0xFF, 0x30, 0xFF}).data;
    const Bytes rest = Feed(codec, {0xFF, 0x0D}).data;
    data.insert(data.end(), rest.begin(), rest.end());
    EXPECT_EQ(data, (Bytes{0x21, 0xFF, 0x30, 0xFF, 0x0D}));
}

TEST(TelnetCodec, NotificationsSplitAcrossReadsAreNeverData) {
    TelnetCodec codec;
    // A reply with a line state notification in its middle, cut after the state byte, and
    // an answer to SET-BAUDRATE (9600, no IAC in it) cut inside its value.
    Bytes data = Feed(codec, {0x21, 0x30, IAC, SB, COM, 106, 0x60}).data;
    for (const Bytes& part : {Bytes{IAC, SE, 0x30, IAC, SB, COM, 101, 0, 0}, Bytes{0x25, 0x80, IAC, SE, 0x0D}}) {
        const Bytes more = Feed(codec, part).data;
        data.insert(data.end(), more.begin(), more.end());
    }
    EXPECT_EQ(data, (Bytes{0x21, 0x30, 0x30, 0x0D}));
    EXPECT_EQ(codec.LineState(), 0x60);
    EXPECT_EQ(codec.Answer(TelnetCodec::kSetBaudRate), 9600u);
    EXPECT_FALSE(codec.Answer(TelnetCodec::kSetParity));
}

// A subnegotiation whose end never comes takes everything after it, so the codec says so: once
// in the notes when it outgrows any of ours, and in words for the port's error text.
TEST(TelnetCodec, ASubnegotiationThatNeverEndsIsNamed) {
    TelnetCodec codec;
    EXPECT_TRUE(Feed(codec, {IAC, SB, COM, 106, 0x60}).data.empty());
    EXPECT_TRUE(codec.InSubnegotiation());
    codec.TakeNotes();
    const Bytes reply(100, 0x30);
    EXPECT_TRUE(Feed(codec, reply).data.empty());
    const std::vector<std::string> notes = codec.TakeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("NOTIFY-LINESTATE 0x60) and has not ended it (IAC SE)"), std::string::npos) << notes[0];
    EXPECT_NE(codec.UnendedSubnegotiation().find("after 103 bytes"), std::string::npos) << codec.UnendedSubnegotiation();
    EXPECT_EQ(Feed(codec, {IAC, SE, 0x21}).data, Bytes{0x21});
    EXPECT_FALSE(codec.InSubnegotiation());
}

// A subnegotiation that the next command ends instead of IAC SE is noted, and that command
// (here the answer to SET-BAUDRATE) is taken as such, not lost with it.
TEST(TelnetCodec, ASubnegotiationEndedByAnotherCommandLosesNothingAfterIt) {
    TelnetCodec codec;
    const Fed fed = Feed(codec, {IAC, SB, COM, 106, 0x60, IAC, SB, COM, 101, 0, 0, 0x25, 0x80, IAC, SE, 0x21});
    EXPECT_EQ(fed.data, Bytes{0x21});
    EXPECT_EQ(codec.Answer(TelnetCodec::kSetBaudRate), 9600u);
    EXPECT_EQ(codec.LineState(), 0x60);
    const std::vector<std::string> notes = codec.TakeNotes();
    EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [](const std::string& n) {
        return n.find("ended a Telnet subnegotiation (NOTIFY-LINESTATE 0x60) with another command") != std::string::npos;
    }));
}

}  // namespace
}  // namespace dpx::platform
