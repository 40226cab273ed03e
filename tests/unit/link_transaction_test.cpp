// The command transaction: checks, category rule, resend rule, modes, pacing, busy flag and
// the diagnostic report of a failed command.
#include <cstring>

#include "tests/unit/link_fixture.h"

namespace dpx::test {
namespace {

using Transaction = LinkTest;

Frame Built(int n, char p1, int8_t p2) {
    uint8_t frame[kFrameBufferSize];
    EXPECT_EQ(BuildFrame(n, p1, static_cast<uint8_t>(p2), frame), kResultOk);
    return Frame(frame, frame + kFrameSize);
}

TEST_F(Transaction, EveryCommandGoesOutAsItsFrame) {
    Connect();
    AckEverything();
    for (int n = 0; n < kSendableCommands; ++n) {
        for (int8_t v : {0, 1, 13, 60, -12, 127, -128}) {
            const char p1 = IsSignedCommand(n) ? (v < 0 ? '-' : '+') : 0;
            seam.State(link).link_category = kCategoryUnknown;  // so that no select is skipped
            ASSERT_EQ(link.SendCommand(n, p1, v), kResultOk) << n;
            ASSERT_EQ(port->frames.back(), Built(n, p1, v)) << "row " << n << " value " << int(v);
            EXPECT_EQ(link.State().link_category, CommandTable[n].category);
        }
    }
    EXPECT_EQ(port->frames.size(), 31u * 7u);
    EXPECT_TRUE(messages.texts.empty());  // success shows nothing, even in debug mode
}

TEST_F(Transaction, SignedCommandWithoutSignIsRefused) {
    Connect();
    const uint32_t last = link.State().link_last_tick;
    seam.State(link).link_category = kCategoryMainMenu;
    EXPECT_EQ(link.SendCommand(kBACKL, 0, 5), kResultParameterError);
    EXPECT_EQ(messages.texts.back(), "Parameter1 is invalid!\n\ncmd = 10h(16),  param1 = 0h,  param2 = 5h(5)");
    EXPECT_EQ(link.SendCommand(kADJOS, '0', -5), kResultParameterError);
    EXPECT_EQ(messages.texts.back(),
              "Parameter1 is invalid!\n\ncmd = 1Ah(26),  param1 = 30h,  param2 = FFFFFFFBh(-5)");
    link.SetDebugMode(0);
    for (int n : {int{kBACKL}, int{kSCWFG}, int{kSCVEG}, int{kADJOS}})
        for (char p1 : {'\0', '0', '*', ' ', 'x'}) EXPECT_EQ(link.SendCommand(n, p1, 1), kResultParameterError);
    EXPECT_EQ(messages.texts.size(), 2u);
    EXPECT_TRUE(port->frames.empty());
    EXPECT_EQ(link.State().link_category, kCategoryMainMenu);
    EXPECT_EQ(link.State().link_last_tick, last);
}

TEST_F(Transaction, OnlyTheLoginGoesOutWhileNotConnected) {
    for (int n = -1; n <= 40; ++n) {
        if (n == kBCN_Login) continue;
        EXPECT_EQ(link.SendCommand(n, '+', 1), kResultNotSent) << n;
    }
    EXPECT_FALSE(port->made);
    EXPECT_TRUE(messages.texts.empty());

    ASSERT_EQ(link.OpenComPort(), 1);
    port->replies = {Ack()};
    EXPECT_EQ(link.SendCommand(kBCN_Login, 0, 0), kResultOk);
    EXPECT_EQ(port->frames, std::vector<Frame>{Bytes("!00BCN1000\r")});
}

TEST_F(Transaction, UnknownCommandNumbers) {
    Connect();
    for (int n : {-1, 31, 32, 255}) EXPECT_EQ(link.SendCommand(n, '+', 0), kResultUnknownCommand);
    EXPECT_EQ(messages.texts, std::vector<std::string>(4, "Unknown Command!"));
    link.SetDebugMode(0);
    EXPECT_EQ(link.SendCommand(31, 0, 0), kResultUnknownCommand);
    EXPECT_EQ(messages.texts.size(), 4u);
    EXPECT_TRUE(port->frames.empty());
}

TEST_F(Transaction, CategorySelectIsSkippedWhenAlreadySelected) {
    Connect();
    AckEverything();
    seam.State(link).link_category = kCategoryInput;
    const uint32_t last = link.State().link_last_tick;
    EXPECT_EQ(link.SendCommand(kINPUT, 0, 0), kResultOk);
    EXPECT_TRUE(port->frames.empty());
    EXPECT_EQ(link.State().link_last_tick, last);
    EXPECT_EQ(link.SendCommand(kOUTPU, 0, 0), kResultOk);
    EXPECT_EQ(link.State().link_category, kCategoryOutput);
    // Value commands and the login are never skipped.
    EXPECT_EQ(link.SendCommand(kSDIMX, 0, 1), kResultOk);
    EXPECT_EQ(link.SendCommand(kSDIMX, 0, 1), kResultOk);
    seam.State(link).link_category = kCategoryNone;
    EXPECT_EQ(link.SendCommand(kBCN_Login, 0, 0), kResultOk);
    EXPECT_EQ(port->frames.size(), 4u);
    EXPECT_EQ(link.State().link_category, kCategoryNone);

    // After a value command of the input category, the input select is not needed.
    EXPECT_EQ(link.SendCommand(kINPSE, 0, 2), kResultOk);
    EXPECT_EQ(link.State().link_category, kCategoryInput);
    EXPECT_EQ(link.SendCommand(kINPUT, 0, 0), kResultOk);
    EXPECT_EQ(port->frames.size(), 5u);
}

TEST_F(Transaction, FailureLeavesTheCategory) {
    Connect();
    link.SetDebugMode(0);
    seam.State(link).link_category = kCategoryScope;
    port->replies = {Nak(2)};
    EXPECT_EQ(link.SendCommand(kINPUT, 0, 0), kResultInvalidNow);
    EXPECT_EQ(link.State().link_category, kCategoryScope);
    port->replies = {Ack()};
    EXPECT_EQ(link.SendCommand(kINPUT, 0, 0), kResultOk);  // selected again, not skipped
    EXPECT_EQ(port->frames.size(), 2u);
}

TEST_F(Transaction, VirtualModeTouchesNothing) {
    link.SetVirtualMode(1);
    EXPECT_EQ(link.State().link_category, kCategoryUnknown);
    const uint32_t last = link.State().link_last_tick;
    seam.State(link).report_text = "kept";
    for (int n = -1; n <= 35; ++n) EXPECT_EQ(link.SendCommand(n, 0, 7), kResultOk) << n;
    EXPECT_EQ(link.ConnectLink(1), 1);
    EXPECT_EQ(link.State().link_connected, 0);
    for (int n = 1; n <= 8; ++n) EXPECT_FALSE(ports[n]->made);
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_EQ(link.State().report_text, "kept");
    EXPECT_EQ(link.State().link_last_tick, last);
    EXPECT_EQ(link.State().link_category, kCategoryUnknown);

    seam.State(link).link_category = kCategoryInput;
    link.SetVirtualMode(0);
    EXPECT_EQ(link.State().link_category, kCategoryUnknown);
}

struct ResendCase {
    const char* name;
    std::vector<ReplyScript> replies;
    int result;
    std::size_t writes;
};

// A time-out is written again; an "unknown command" answer to the second write earns a third.
TEST_F(Transaction, ResendRule) {
    const std::vector<ResendCase> cases = {
        {"ack", {Ack()}, 0, 1},
        {"nak0 first", {Nak(0)}, 1, 1},
        {"nak1 first", {Nak(1)}, 2, 1},
        {"junk first", {Reply("junk\r")}, 4, 1},
        {"timeout, ack", {NoReply(), Ack()}, 0, 2},
        {"timeout, timeout", {NoReply(), NoReply()}, 5, 2},
        {"timeout, nak1", {NoReply(), Nak(1)}, 2, 2},
        {"timeout, nak2", {NoReply(), Nak(2)}, 3, 2},
        {"timeout, nak 0x31", {NoReply(), Reply("@00BNG1000\r")}, 4, 2},
        {"timeout, nak0, ack", {NoReply(), Nak(0), Ack()}, 0, 3},
        {"timeout, nak0, timeout", {NoReply(), Nak(0), NoReply()}, 5, 3},
        {"timeout, nak0, nak0", {NoReply(), Nak(0), Nak(0)}, 1, 3},
        {"late first byte", {Ack(101), Ack()}, 0, 2},
    };
    Connect();
    link.SetDebugMode(0);
    for (const ResendCase& c : cases) {
        port->frames.clear();
        clock.Advance(1000);  // lets any late byte arrive, then drops it
        port->Purge();
        port->replies.assign(c.replies.begin(), c.replies.end());
        seam.State(link).link_category = kCategoryUnknown;
        EXPECT_EQ(link.SendCommand(kHDMIM, 0, 3), c.result) << c.name;
        ASSERT_EQ(port->frames.size(), c.writes) << c.name;
        for (const Frame& f : port->frames) EXPECT_EQ(f, Bytes("!00HDMIM0\x03\r")) << c.name;
        EXPECT_EQ(Count(link.State().report_text, kTryAgain), c.writes >= 2 ? 1 : 0) << c.name;
        EXPECT_EQ(Count(link.State().report_text, kTryOneMore), c.writes == 3 ? 1 : 0) << c.name;
        EXPECT_EQ(link.State().link_category, c.result == 0 ? kCategoryOutput : kCategoryUnknown) << c.name;
    }
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(Transaction, IncompleteWritesEndTheTransaction) {
    const std::vector<std::vector<ReplyScript>> cases = {
        {ShortWrite(5)},
        {NoReply(), ShortWrite(0)},
        {NoReply(), Nak(0), ShortWrite(10)},
    };
    Connect();
    for (const auto& replies : cases) {
        messages.texts.clear();
        port->frames.clear();
        port->replies.assign(replies.begin(), replies.end());
        clock.Advance(50);
        EXPECT_EQ(link.SendCommand(kINPSE, 0, 1), kResultNotSent);
        EXPECT_EQ(port->frames.size(), replies.size());
        EXPECT_EQ(link.State().link_last_tick, clock.now);
        // Only the write error is shown: it carries the report so far.
        ASSERT_EQ(messages.texts.size(), 1u);
        const uint32_t written = replies.back().written;
        EXPECT_EQ(messages.texts[0], link.State().report_text);
        EXPECT_TRUE(link.State().report_text.ends_with(Printf("Write data length is false!\n[ %u byte write ]", written)));
        EXPECT_TRUE(link.State().report_text.starts_with("Following Command will(was) Sent!"));
    }
    link.SetDebugMode(0);
    messages.texts.clear();
    port->replies = {ShortWrite(3)};
    EXPECT_EQ(link.SendCommand(kINPSE, 0, 1), kResultNotSent);
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(Transaction, PortErrorsBeforeTheWriteAreShownAndTheCommandGoesOn) {
    Connect();
    AckEverything();
    const std::string head = "Following Command will(was) Sent!";

    port->fail_purge = true;
    EXPECT_EQ(link.SendCommand(kMMENU, 0, 0), kResultOk);
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_TRUE(messages.texts[0].starts_with(head));
    EXPECT_TRUE(messages.texts[0].ends_with(kResultSeparator + "WriteComCommand : PurgeComm() : err = 0, dwFlags = F"));
    port->fail_purge = false;

    messages.texts.clear();
    port->error_word = 8;
    EXPECT_EQ(link.SendCommand(kSCOPE, 0, 0), kResultOk);
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_TRUE(messages.texts[0].ends_with(kResultSeparator + "WriteComCommand : ClearCommError : error = 8"));

    // A port whose error state cannot be read: shown at each write, and no reply is seen.
    messages.texts.clear();
    port->frames.clear();
    port->fail_clear_error = true;
    EXPECT_EQ(link.SendCommand(kADJUS, 0, 0), kResultTimeout);
    ASSERT_EQ(messages.texts.size(), 3u);
    const std::string line = "WriteComCommand : ClearCommError() : err = 0, swErrrors = 0";
    EXPECT_TRUE(messages.texts[0].ends_with(kResultSeparator + line));
    EXPECT_TRUE(messages.texts[1].ends_with(kTryAgain + line));
    EXPECT_EQ(messages.texts[2], link.State().report_text);
    EXPECT_EQ(port->frames.size(), 2u);

    link.SetDebugMode(0);
    messages.texts.clear();
    port->fail_clear_error = false;
    port->fail_purge = true;
    port->error_word = 1;
    EXPECT_EQ(link.SendCommand(k2D3D, 0, 0), kResultOk);
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(Transaction, ReportOfAFailedCommand) {
    Connect();
    seam.State(link).link_category = kCategoryMainMenu;
    port->replies = {Nak(1, 7)};
    const uint32_t t = clock.now;
    EXPECT_EQ(link.SendCommand(kBACKL, '-', -12), kResultParameterError);
    const std::string expected =
        "Following Command will(was) Sent!\n\ncmd = 10h(16),  param1 = 2Dh(-),  param2 = F4h(-12)"
        "\n\nASCII = !00BACKL-\xF4"
        "\n\nbinary = 21h, 30h, 30h, 42h, 41h, 43h, 4bh, 4ch, 2dh, F4h, 0dh"
        "\n\n" + TickLine(t) + kResultSeparator + FirstByteLine(7, t + 7) +
        DataLine("@00BNG\x01" "000\r", 11) + "\n\nNAK received! status = 1 : parameter err";
    EXPECT_EQ(messages.texts, std::vector<std::string>{expected});
    EXPECT_EQ(link.State().report_text, expected);
    EXPECT_EQ(link.State().link_last_tick, t + 7);
}

// Resends leave their separators in the report; a zero value byte cannot be carried as a
// character and is left out of the ASCII line.
TEST_F(Transaction, ReportOfAResentCommand) {
    Connect();
    seam.State(link).link_category = kCategoryInput;
    port->replies = {NoReply(), Nak(0, 4), NoReply()};
    const uint32_t t = clock.now;
    EXPECT_EQ(link.SendCommand(kINPSE, 0, 0), kResultTimeout);
    const std::string expected =
        "Following Command will(was) Sent!\n\ncmd = 8h(8),  param1 = 0h(0),  param2 = 00h(0)"
        "\n\nASCII = !00INPSE0"
        "\n\nbinary = 21h, 30h, 30h, 49h, 4eh, 50h, 53h, 45h, 30h, 00h, 0dh"
        "\n\n" + TickLine(t) + kResultSeparator + NoReplyLine(t + 101) + kTryAgain +
        FirstByteLine(4, t + 105) + DataLine("@00BNG", 11) + "\n\nNAK received! status = 0 : unknown command" +
        kTryOneMore + NoReplyLine(t + 206);
    EXPECT_EQ(messages.texts, std::vector<std::string>{expected});
    EXPECT_EQ(port->write_ticks, (std::vector<uint32_t>{t, t + 101, t + 105}));
}

TEST_F(Transaction, ReportStartsAfreshForEveryCommand) {
    Connect();
    link.SetDebugMode(0);
    for (int i = 0; i < 5; ++i) {
        port->replies = {Nak(2)};
        seam.State(link).link_category = kCategoryUnknown;
        EXPECT_EQ(link.SendCommand(kSCMOD, 0, static_cast<int8_t>(i)), kResultInvalidNow);
    }
    EXPECT_TRUE(link.State().report_text.starts_with("Following Command will(was) Sent!\n\ncmd = 13h(19),  param1 = 0h(0),  param2 = 04h(4)"));
    EXPECT_EQ(Count(link.State().report_text, "Following Command"), 1);
    EXPECT_EQ(Count(link.State().report_text, "NAK received!"), 1);
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(Transaction, NoAckModeWritesOnlyAndPacesCommands) {
    Connect();
    link.SetNoAckMode(1);
    port->replies = {Nak(1), NoReply(), Ack()};
    const uint32_t t = clock.now;
    EXPECT_EQ(link.SendCommand(kOUTPU, 0, 0), kResultOk);  // the NAK is never read
    EXPECT_EQ(link.State().link_category, kCategoryOutput);
    EXPECT_EQ(port->Queued(), 11u);                        // it waits for the next purge
    EXPECT_EQ(link.SendCommand(kSDIMX, 0, 2), kResultOk);  // no reply, no resend
    EXPECT_EQ(port->Queued(), 0u);
    EXPECT_EQ(link.SendCommand(kHDMIM, 0, 2), kResultOk);
    EXPECT_EQ(port->frames.size(), 3u);
    // The first command goes at once (the last one ended long ago); then 70 ms apart.
    EXPECT_EQ(port->write_ticks, (std::vector<uint32_t>{t, t + 70, t + 140}));
    EXPECT_EQ(link.State().link_last_tick, t + 140);
    EXPECT_TRUE(messages.texts.empty());

    // Without no-ACK mode the next command does not wait for pacing.
    link.SetNoAckMode(0);
    port->replies = {Ack()};
    EXPECT_EQ(link.SendCommand(k3DFOR, 0, 1), kResultOk);
    EXPECT_EQ(port->write_ticks.back(), t + 140);
}

TEST_F(Transaction, BusyWhileRunning) {
    Connect();
    EXPECT_EQ(link.IsBusy(), 0);
    std::vector<int> busy_seen;
    messages.on_show = [&](const std::string&) {
        busy_seen.push_back(link.IsBusy());
        // A handler running inside the notice starts another transaction; the outer one
        // is still running afterwards.
        if (busy_seen.size() == 1) {
            port->replies = {Ack()};
            link.SendCommand(kSCOPE, 0, 0);
            busy_seen.push_back(link.IsBusy());
        }
    };
    port->replies = {Nak(2)};
    EXPECT_EQ(link.SendCommand(kMMENU, 0, 0), kResultInvalidNow);
    EXPECT_EQ(busy_seen, (std::vector<int>{1, 1}));
    EXPECT_EQ(link.IsBusy(), 0);

    seam.State(link).link_busy = 1;
    link.SetVirtualMode(1);
    EXPECT_EQ(link.IsBusy(), 0);
    seam.State(link).link_busy = 1;
    link.SetVirtualMode(0);
    EXPECT_EQ(link.IsBusy(), 1);
}

}  // namespace
}  // namespace dpx::test
