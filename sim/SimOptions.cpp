#include "sim/SimOptions.h"

#include <cerrno>
#include <cstdlib>

#include "model/CommandTable.h"

namespace dpx::sim {
namespace {

bool ParseNumber(const std::string& text, uint64_t max, uint64_t* out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);  // decimal or 0x..
    if (errno != 0 || *end != '\0' || v > max) return false;
    *out = v;
    return true;
}

// "N": every Nth frame; "WORD": every frame of WORD; "WORD:K": the first K frames of WORD.
bool ParseSelector(const std::string& text, FrameSelector* sel) {
    uint64_t n = 0;
    if (ParseNumber(text, 1000000, &n)) {
        if (n == 0) return false;
        sel->every = n;
        return true;
    }
    const std::size_t colon = text.find(':', 5);
    sel->word = text.substr(0, colon);
    if (sel->word.size() != 5) return false;
    if (colon == std::string::npos) return true;
    return ParseNumber(text.substr(colon + 1), 1000000, &sel->limit) && sel->limit > 0;
}

}  // namespace

bool FrameSelector::Hits(uint64_t frame_no, const std::string& frame_word) {
    if (every != 0) return frame_no % every == 0;
    if (frame_word != word) return false;
    ++matched;
    return limit == 0 || matched <= limit;
}

ReplyPlan PlanReply(FaultOptions& faults, uint64_t frame_no, const Exchange& exchange) {
    ReplyPlan plan;
    plan.bytes = exchange.reply;
    plan.delay_ms = faults.delay_ms;
    if (plan.bytes.empty()) return plan;
    // Every selector sees every frame, so that word counts stay right whatever else hits.
    auto hits = [&](std::vector<FrameSelector>& sels) {
        bool hit = false;
        for (FrameSelector& sel : sels) hit = sel.Hits(frame_no, exchange.word) || hit;
        return hit;
    };
    const bool drop = hits(faults.drop) || (faults.silent_after != 0 && frame_no > faults.silent_after) || faults.silent;
    const bool late = hits(faults.late);
    const bool cut = hits(faults.cut);
    const bool garble = hits(faults.garble);
    auto note = [&](const char* what) { plan.fault += plan.fault.empty() ? what : std::string(",") + what; };
    if (drop) note("drop");
    if (garble && plan.bytes.size() > 4) {
        plan.bytes[4] ^= 0x10;  // one bit flipped: "@00B_K.000\r" is neither ACK nor NAK
        note("garble");
    }
    if (cut && faults.cut_bytes < plan.bytes.size()) {
        plan.bytes.resize(faults.cut_bytes);
        note("cut");
    }
    if (late) {
        plan.delay_ms += faults.late_ms;
        note("late");
    }
    return plan;
}

bool ParseSimArgs(const std::vector<std::string>& args, SimConfig* config, std::string* error) {
    SimConfig& c = *config;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& opt = args[i];
        auto fail = [&](const std::string& why) {
            *error = opt + ": " + why;
            return false;
        };
        if (opt == "--help" || opt == "-h") { c.help = true; continue; }
        if (opt == "--quiet") { c.quiet = true; continue; }
        if (opt == "--print-state") { c.print_state = true; continue; }
        if (opt == "--wire") { c.wire = true; continue; }
        if (opt == "--overtake") { c.faults.overtake = true; continue; }
        if (i + 1 >= args.size()) {
            if (opt.rfind("--", 0) != 0) return fail("unknown argument (see --help)");
            return fail("unknown option or missing value (see --help)");
        }
        const std::string& value = args[++i];
        uint64_t n = 0;
        if (opt == "--link") c.link = value;
        else if (opt == "--port") c.port = value;
        else if (opt == "--log") c.log = value;
        else if (opt == "--state") c.state = value;
        else if (opt == "--delay" || opt == "--late-ms" || opt == "--adjmd-busy" || opt == "--cut-bytes" ||
                 opt == "--silent-after") {
            if (!ParseNumber(value, 600000, &n)) return fail("needs a number of milliseconds, bytes or frames: " + value);
            if (opt == "--delay") c.faults.delay_ms = static_cast<uint32_t>(n);
            else if (opt == "--silent-after") c.faults.silent_after = n;
            else if (opt == "--late-ms") c.faults.late_ms = static_cast<uint32_t>(n);
            else if (opt == "--adjmd-busy") c.box.adjmd_busy_ms = static_cast<uint32_t>(n);
            else c.faults.cut_bytes = n;
        } else if (opt == "--drop" || opt == "--late" || opt == "--cut" || opt == "--garble") {
            FrameSelector sel;
            if (!ParseSelector(value, &sel))
                return fail("needs N (every Nth frame), WORD or WORD:K (a five-character command word): " + value);
            (opt == "--drop" ? c.faults.drop : opt == "--late" ? c.faults.late
             : opt == "--cut" ? c.faults.cut : c.faults.garble).push_back(sel);
        } else if (opt == "--nak") {
            const std::size_t eq = value.find('=', 5);
            if (eq != 5 || !ParseNumber(value.substr(eq + 1), 255, &n))
                return fail("needs WORD=STATUS, a five-character command word and 0-255: " + value);
            c.box.forced_nak[value.substr(0, 5)] = static_cast<uint8_t>(n);
        } else {
            return fail("unknown option (see --help)");
        }
    }
    if (!c.link.empty() && !c.port.empty()) {
        *error = "--link and --port exclude each other: a link is made only to a pseudo-terminal";
        return false;
    }
    return true;
}

namespace {

// "  - Values taken: INPSE 0..3, ...": each value command's values in the command table,
// wrapped to the width of the help.
std::string ValuesTaken() {
    constexpr std::size_t kWidth = 92;
    std::string text = "  - Values taken:";
    std::size_t line = text.size();
    for (int n = 0; n < kSendableCommands; ++n) {
        if (!IsValueCommand(n)) continue;
        const ValueRange& v = CommandTable[n].values;
        const std::string item = std::string(" ") + CommandTable[n].word + " " + std::to_string(v.low) + ".." +
                                 std::to_string(v.high) + (n + 1 < kSendableCommands ? "," : ".");
        if (line + item.size() > kWidth) {
            text += "\n   ";
            line = 3;
        }
        text += item;
        line += item.size();
    }
    return text + "\n    ADJMD takes the codes of both adjust modes: 0 off, 1-3 SDI-LR, 4-12 2D-3D.";
}

}  // namespace

std::string SimHelpText() {
    return R"(Usage: dpx20sim [options]

Simulates the ZR-DPX20 box on a pseudo-terminal (default) or a serial port. Prints the
device the controller is to open on standard output, then serves until SIGTERM or SIGINT.
Example: dpx20sim --link /tmp/com1 & DPX20_COM1=/tmp/com1 dpx20remote

Device:
  --link PATH        make PATH a symbolic link to the pseudo-terminal (an existing PATH is
                     replaced; removed at exit); point DPX20_COMn at it
  --port DEVICE      serve a real serial port instead (9600 baud, 8 data bits, odd parity,
                     1 stop bit, no flow control, DTR on), e.g. over a null-modem cable

Records:
  --log FILE         frame log: one line per frame received, reply sent or reply dropped:
                     time in ms since start <TAB> recv|send|drop <TAB> bytes as escaped
                     ASCII <TAB> bytes in hex [<TAB> faults applied]; default standard error
  --quiet            no frame log
  --state FILE       on SIGUSR1 and at exit, replace FILE (atomically) with the box state:
                     "key = value" lines, starting with "requests = N" (SIGUSR1s so far)
  --print-state      print the same state to standard output on SIGUSR1 and at exit

Timing:
  --wire             9600-baud wire timing: every byte takes 11 bit times (1.146 ms), both
                     when a frame comes in (it is taken when its last byte would have
                     arrived) and when a reply goes out (bytes leave one by one)
  --delay MS         send every reply MS milliseconds after its frame

Faults (SEL is N for every Nth frame received, counting from 1, or WORD for every frame of
a five-character command word as in bytes 3-7 of the frame, e.g. INPSE, BCN10, 2D/3D, or
WORD:K for only the first K frames of WORD; each option may be given more than once):
  --drop SEL         send no reply (the box still takes the command)
  --late SEL         send the reply late, after the --delay and another --late-ms
  --late-ms MS       how late a late reply is (default 150)
  --overtake         a late reply does not hold back the ones after it: later frames are
                     answered on time and the late reply comes when it is due, after them
                     (with --wire it then goes out in one piece)
  --cut SEL          send only the first --cut-bytes bytes of the reply, without its CR
  --cut-bytes N      (default 5)
  --garble SEL       flip one bit of reply byte 4, so the reply is neither ACK nor NAK
  --silent-after N   answer the first N frames, then none at all (a box that falls silent);
                     SIGUSR2 makes the box fall silent, and the next one answer again
  --nak WORD=STATUS  answer every frame of WORD with a NAK of STATUS (0-255, decimal or
                     0x..) instead; the command is not applied
  --adjmd-busy MS    refuse ADJMD with NAK status 2 (invalid now) for MS after a mode
                     change: an accepted CONVE or ADJMD that changed the conversion switch
                     or the adjust mode

Box rules:
  - A frame is 11 bytes: '!', address "00", a five-character command word, two parameter
    bytes, CR. Value bytes may be 0x00 or 0x0D, so frames are cut by length. Bytes before a
    '!' are skipped; 11 bytes that do not end in CR are no frame (the '!' is dropped).
    Frames for another address get no reply.
  - Replies: ACK "@00BOK.000\r"; NAK "@00BNG", a status byte, "000\r".
  - Unknown command word: NAK status 0.
  - Any command but the login (BCN10) before login, the logoff (BCN00) too, and a value
    command whose category is not the one selected: NAK status 2 (invalid now).
  - A value the box does not take, or a parameter byte that differs from the template
    ('0' in unused places): NAK status 1. Signed commands (BACKL, SCWFG, SCVEG, ADJOS)
    need '+' with 0..max or '-' with min..-1 as a two's complement byte.
)" + ValuesTaken() + R"(
  - Login and logoff leave no category selected; INPUT, OUTPU, MMENU, SCOPE, ADJUS and
    2D/3D select theirs; value commands keep it.
  - MEMSV v copies the current parallax, intensity and sub intensity into memory v+1;
    MEMLD v copies memory v+1 back. Power-on state: input 3, 3D format 1, frame sync 1,
    adjust values 13, 23, 40 in the current set and both memories, the rest 0.
)";
}

}  // namespace dpx::sim
