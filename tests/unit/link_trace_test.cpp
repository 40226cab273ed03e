// The frame trace of the link.
#include <cstdio>
#include <regex>

#include "tests/unit/link_fixture.h"

namespace dpx::test {
namespace {

using Trace = LinkTest;

std::vector<std::string> Lines(const FrameTrace& trace) {
    std::vector<std::string> lines;
    for (const FrameTrace::Entry& e : trace.Entries()) lines.push_back(FrameTrace::Line(e));
    return lines;
}

TEST_F(Trace, RecordsOpenLoginFramesRepliesTimeOutsAndResends) {
    port->replies = {Ack()};
    ASSERT_EQ(link.ConnectLink(1), 1);
    seam.State(link).link_category = kCategoryInput;
    port->replies = {NoReply(), Nak(2)};
    EXPECT_EQ(link.SendCommand(kINPSE, 0, 1), kResultInvalidNow);
    EXPECT_EQ(link.State().link_result, kResultInvalidNow);

    const std::vector<std::string> lines = Lines(link.Trace());
    ASSERT_EQ(lines.size(), 9u);
    const std::string stamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \d+ )" + port->DeviceName();
    const std::vector<std::string> expected = {
        " open",
        " send 21 30 30 42 43 4E 31 30 30 30 0D \\|!00BCN1000\\.\\|",
        " recv 40 30 30 42 4F 4B 2E 30 30 30 0D \\|@00BOK\\.000\\.\\| result 0 \\(ACK\\)",
        " login result 0 \\(ACK\\)",
        " send 21 30 30 49 4E 50 53 45 30 01 0D \\|!00INPSE0\\.\\.\\|",
        " recv none result 5 \\(no answer within 100 ms\\)",
        " resend \\(try again\\)",
        " send 21 30 30 49 4E 50 53 45 30 01 0D .*",
        " recv 40 30 30 42 4E 47 02 30 30 30 0D \\|@00BNG\\.000\\.\\| result 3 \\(NAK invalid now\\)",
    };
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(stamp + expected[i]))) << lines[i];
}

TEST_F(Trace, KeepsTheLatestEntriesAndStreamsEachOne) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    FrameTrace trace;
    trace.SetStream(file);
    for (int i = 0; i < 2005; ++i) trace.Event(static_cast<uint32_t>(i), "dev", "event");
    trace.SetStream(nullptr);
    trace.SetEnabled(false);
    trace.Event(0, "dev", "not recorded");
    ASSERT_EQ(trace.Entries().size(), FrameTrace::kCapacity);
    EXPECT_EQ(trace.Entries().front().tick, 5u);

    std::rewind(file);
    std::string streamed;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) streamed.append(buffer, n);
    std::fclose(file);
    EXPECT_EQ(Count(streamed, "\n"), 2005);
    EXPECT_TRUE(streamed.ends_with(trace.Text()));  // both render the same lines
}

}  // namespace
}  // namespace dpx::test
