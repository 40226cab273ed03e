#pragma once
// Shared set-up of the link unit tests: a link on scripted ports, a fake clock, a message
// recorder and the seam that writes the link's state, plus the report texts built
// independently of the link's own helpers.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "link/RS232c_bios.h"
#include "tests/support/Recorders.h"
#include "tests/support/ScriptedPort.h"
#include "tests/support/TestSeam.h"

namespace dpx::test {

inline std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Printf(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// The tick-time lines of the report: "OS Tick Time = ..." with the tick split into
// days, hours, minutes, seconds and milliseconds.
inline std::string TickLine(uint32_t tick) {
    return Printf("OS Tick Time = %dmS.\n[ %dday : %dhour : %dmin : %dsec : %03dmsec from system boot-up. ]",
                  static_cast<int>(tick), static_cast<int>(tick / 86400000u),
                  static_cast<int>(tick % 86400000u / 3600000u), static_cast<int>(tick % 3600000u / 60000u),
                  static_cast<int>(tick % 60000u / 1000u), static_cast<int>(tick % 1000u));
}
inline std::string FirstByteLine(uint32_t after_ms, uint32_t tick) {
    return Printf("ACK first byte received after %dmS from command sent.\n\n", static_cast<int>(after_ms)) +
           TickLine(tick);
}
inline std::string NoReplyLine(uint32_t tick) { return "ACK data cannot get within 100msec.!\n\n" + TickLine(tick); }
inline std::string IncompleteLine(uint32_t tick) {
    return "\n\nACK data cannot get compleately within 100msec!\n\n" + TickLine(tick);
}
inline std::string DataLine(const std::string& text, int count) {
    return "\n\nACK data = " + text + Printf("\n[ %d byte read ]", count);
}

inline const std::string kAckText = "@00BOK.000\r";
inline const std::string kOkLine = "\n\nOK! ACK received!";
inline const std::string kResultSeparator = "\n\n-----<result>-----------------------------------------------\n\n";
inline const std::string kTryAgain = "\n\n-----<try again>--------------------------------------------\n\n";
inline const std::string kTryOneMore = "\n\n-----<try one more>-----------------------------------------\n\n";

inline std::string Text(const Frame& f) { return std::string(f.begin(), f.end()); }

inline int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class LinkTest : public ::testing::Test {
protected:
    // A logged-in link on COM1 with the login already written; the clock then stands well
    // past every pacing wait, and COM1's write log is cleared.
    void Connect() {
        port->replies = {Ack()};
        ASSERT_EQ(link.ConnectLink(1), 1);
        port->frames.clear();
        port->write_ticks.clear();
        clock.Advance(1000);
        clock.waits.clear();
    }
    // Replies every write without a script with an ACK.
    void AckEverything() {
        port->responder = [](const Frame&) { return Bytes("@00BOK.000\r"); };
    }

    MessageRecorder messages;
    FakeClock clock;  // before the link: the link reads the tick when it is made
    RS232c_bios link;
    ScriptedPorts ports = InstallScriptedPorts(link);
    ScriptedPort* port = ports[1];
    TestSeam seam;  // after the link: writes the link's state, restores it first
};

}  // namespace dpx::test
