#pragma once
// Runs the built dpx20sim (see Program()) as a child process for integration and
// end-to-end tests, in a temporary directory of its own:
//   <dir>/com1       the symbolic link to its pseudo-terminal (or the path given)
//   <dir>/state      the box state, rewritten on request and at exit
//   <dir>/frames.log its frame log; <dir>/stdout.txt and <dir>/stderr.txt its own output
//
// Typical use:
//   dpx::test::SimProcess sim({"--drop", "INPSE"});   // options as on the command line
//   ASSERT_TRUE(sim.Ok()) << sim.Error();
//   setenv("DPX20_COM1", sim.LinkPath().c_str(), 1);   // the controller opens COM1
//   ... run the link or the panel ...
//   EXPECT_EQ(sim.State()["sys_input_select"], 1);
//   EXPECT_EQ(sim.Words().back(), "INPSE");
// The destructor stops the simulator and removes the directory.
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace dpx::test {

class SimProcess {
public:
    // Starts the simulator with `options` plus --link, --state and --log, and returns once the
    // link exists (at most 5 s). `link_path` empty: <dir>/com1; else that path, so that a new
    // simulator can take the place of one that was stopped.
    explicit SimProcess(std::vector<std::string> options = {}, std::string link_path = "");
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Ok() const { return pid_ > 0 && error_.empty(); }
    const std::string& Error() const { return error_; }
    const std::string& Dir() const { return dir_; }
    const std::string& LinkPath() const { return link_; }
    // The pseudo-terminal behind the link (the simulator's first line of output).
    std::string DevicePath() const;

    // The box state (keys of BoxModel::Dump, e.g. "sys_input_select", "logged_in",
    // "frames"). While running: asks for a fresh dump and waits for it (at most 3 s); after
    // Stop(): the dump written at exit. Empty when none could be had.
    std::map<std::string, long> State();
    // Every frame the box received, in order, and their command words (bytes 3-7).
    std::vector<std::vector<uint8_t>> Frames() const;
    std::vector<std::string> Words() const;
    // The frame log lines: "<ms>\t<recv|send|drop|fail>\t<escaped>\t<hex>[\t<faults>]".
    std::vector<std::string> LogLines() const;

    // Ends the simulator (SIGTERM, SIGKILL after 3 s) and waits for it; its pseudo-terminal
    // and link go away. Does nothing when it has already ended.
    void Stop();
    pid_t Pid() const { return pid_; }

    // The program run: $DPX20_BUILD_DIR/dpx20sim, else dpx20sim in the build directory
    // above the running test program (tests/<name>) or beside it.
    static std::string Program();

private:
    std::string dir_;
    std::string link_;
    std::string error_;
    pid_t pid_ = -1;
    bool running_ = false;
    long requests_ = 0;
};

}  // namespace dpx::test
