#pragma once
// Options of the box simulator dpx20sim and the faults it injects into its replies.
// Pure: parsing takes the argument list, the fault plan takes a frame and its reply.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/BoxModel.h"

namespace dpx::sim {

// Which received frames a fault hits: every Nth frame (counting every frame the box took,
// from 1), every frame of one command word, or only the first `limit` frames of that word.
struct FrameSelector {
    uint64_t every = 0;     // 0: not by count
    std::string word;       // five characters as in bytes 3-7 of the frame ("INPSE", "BCN10")
    uint64_t limit = 0;     // with a word: 0 every frame of it, else only the first `limit`
    uint64_t matched = 0;   // frames of the word seen so far (for `limit`)

    // True when frame number `frame_no` (from 1) with command word `word` is hit. Counts the
    // frames of the word, so call it once per frame.
    bool Hits(uint64_t frame_no, const std::string& frame_word);
};

struct FaultOptions {
    uint32_t delay_ms = 0;          // every reply this much after its frame
    uint32_t late_ms = 150;         // a late reply: beyond the controller's 100 ms limit
    std::size_t cut_bytes = 5;      // a cut-short reply keeps this many bytes (no CR)
    std::vector<FrameSelector> drop, late, cut, garble;
    uint64_t silent_after = 0;      // not 0: no reply to any frame after this many
    // A late reply lets the replies after it overtake it: they go out on time and the late one
    // after them, when it is due (by default the box answers in order, so a late reply holds
    // back every one behind it).
    bool overtake = false;
    bool silent = false;            // no reply at all while set (SIGUSR2 turns it on and off)
};

// What to send for one frame.
struct ReplyPlan {
    std::vector<uint8_t> bytes;  // empty: no reply
    uint32_t delay_ms = 0;       // after the frame was complete
    std::string fault;           // "" or the faults applied, "drop", "late", "cut", "garble"
};

// Applies the faults to the reply of frame number `frame_no` (from 1). A dropped reply keeps
// its bytes in the plan (for the log) but `fault` starts with "drop".
ReplyPlan PlanReply(FaultOptions& faults, uint64_t frame_no, const Exchange& exchange);

struct SimConfig {
    std::string link;        // symbolic link to make to the pseudo-terminal
    std::string port;        // a real serial port to serve instead of a pseudo-terminal
    std::string log;         // frame log file; empty: stderr
    bool quiet = false;      // no frame log at all
    std::string state;       // state dump file, rewritten on SIGUSR1 and at exit
    bool print_state = false;
    bool wire = false;       // 9600-baud wire timing, 11 bits per byte, both directions
    BoxOptions box;
    FaultOptions faults;
    bool help = false;
};

// Parses the arguments after the program name. False with `error` set on a bad argument.
bool ParseSimArgs(const std::vector<std::string>& args, SimConfig* config, std::string* error);

// The --help text: usage, every option and the box rules.
std::string SimHelpText();

// Time one byte takes on a 9600-baud line with 11 bits per byte (start, 8 data, parity, stop).
constexpr int64_t kWireByteNanos = 11 * 1000000000LL / 9600;

}  // namespace dpx::sim
