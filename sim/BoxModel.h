#pragma once
// The box side of the serial protocol as a pure model: bytes in, reply bytes out, and the
// box's settings. No I/O and no clock of its own: callers pass the time in milliseconds.
//
// Box rules (ours, chosen to match what the controller expects the box to accept):
// - A frame is 11 bytes starting with '!' and ending in CR at byte 10; value bytes may be
//   0x00 or 0x0D, so frames are cut by length. Bytes before a '!' are skipped; 11 bytes
//   that do not end in CR are not a frame: the '!' is dropped and the search goes on.
//   Frames for another address than "00" get no reply.
// - Unknown command word: NAK status 0.
// - Any command but the login before login, or a value command whose category is not
//   the one selected: NAK status 2 ("invalid now").
// - A value the box does not take, or a parameter byte that differs from the template:
//   NAK status 1. Accepted values are those of the command's row in CommandTable; the signed
//   commands need '+' for 0..max and '-' for min..-1.
// - Login (BCN10) and logoff (BCN00) select no category; a category select selects its
//   category; a value command keeps it.
// - MEMSV v copies the current parallax, intensity and sub intensity into memory v+1;
//   MEMLD v copies memory v+1 back.
// - Options: a forced NAK status per command word (the command is then not applied), and
//   ADJMD refused as "invalid now" for a while after a mode change (an accepted CONVE or
//   ADJMD that changed the conversion switch or the adjust mode).
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace dpx::sim {

// The box's settings and session state. Initial values are the box's power-on state.
struct BoxState {
    bool logged_in = false;
    int category = 0;  // a Category code: 0 none, 2-7 the selected category
    int conversion = 0;
    int input_select = 3;
    int input_porality = 0;
    int sdi_mix = 0;
    int hdmi_mix = 0;
    int format_3d = 1;
    int rotate = 0;
    int f_sync = 1;
    int beep = 0;
    int back_light = 0;
    int scope_mode = 0;
    int scope_source = 0;
    int scope_position = 0;
    int scope_filter = 0;
    int wfm_gain = 0;
    int vector_gain = 0;
    int adjust_mode = 0;  // one code for both adjusts: 0 off, 1-3 SDI-LR, 4-12 2D-3D
    int split_position = 0;
    std::array<int, 3> adjust{13, 23, 40};   // parallax, intensity, sub intensity
    std::array<int, 3> memory1{13, 23, 40};
    std::array<int, 3> memory2{13, 23, 40};
};

// One frame the box took and what it answered (empty reply: none).
struct Exchange {
    std::array<uint8_t, 11> frame{};
    std::string word;            // bytes 3-7 of the frame
    int command = -1;            // command number, -1 if unknown
    std::vector<uint8_t> reply;
};

struct BoxOptions {
    std::map<std::string, uint8_t> forced_nak;  // command word -> NAK status
    uint32_t adjmd_busy_ms = 0;                  // 0: ADJMD is never refused for a mode change
    bool keep_history = true;                    // record every Exchange in History()
};

class BoxModel {
public:
    explicit BoxModel(BoxOptions options = {});

    // Takes received bytes and returns one Exchange per complete frame found, in order.
    std::vector<Exchange> Receive(const uint8_t* data, std::size_t n, uint32_t now_ms = 0);

    const BoxState& State() const { return state_; }
    BoxState& MutableState() { return state_; }
    BoxOptions& Options() { return options_; }
    const std::vector<Exchange>& History() const { return history_; }
    void ClearHistory() { history_.clear(); }
    uint64_t FrameCount() const { return frames_; }
    // Bytes received but not yet part of a frame.
    std::size_t Pending() const { return pending_.size(); }

    // "key = value" lines, keys named after the settings keys (sys_input_select = 3).
    std::string Dump() const;

private:
    std::vector<uint8_t> Answer(const uint8_t* frame, int* command, uint32_t now_ms);

    BoxOptions options_;
    BoxState state_;
    std::vector<uint8_t> pending_;
    std::vector<Exchange> history_;
    uint64_t frames_ = 0;
    bool mode_changed_ = false;
    uint32_t mode_change_ms_ = 0;
};

std::vector<uint8_t> AckReply();
std::vector<uint8_t> NakReply(uint8_t status);

// Parses Dump() text into key -> value (lines that do not parse are skipped).
std::map<std::string, long> ParseDump(const std::string& text);

// Printable form of bytes: ASCII with \r, \n, \\ and \xNN escapes.
std::string EscapeBytes(const uint8_t* data, std::size_t n);
// "21 30 30 ..." upper-case hex, space separated.
std::string HexBytes(const uint8_t* data, std::size_t n);

}  // namespace dpx::sim
