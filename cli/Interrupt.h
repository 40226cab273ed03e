#pragma once
// Ctrl-C and requests to terminate, caught while dpx20ctl works on the box, so that the run
// can let the step in progress end, log off, release the port and report before it exits.
// A second Ctrl-C ends the program at once.

namespace dpx::cli {

// From now on the signals are only noted.
void CatchInterrupts();
// 0 while none came; else the number of the first: SIGINT (Ctrl-C, Ctrl-Break) or SIGTERM
// (on Windows also the console closing, logoff and shutdown, and the stop of the Windows service
// that started this serve, cli/Service_win.cpp). The exit code is 128 + it.
int InterruptSignal();
// A descriptor that becomes readable once a signal was noted, for an event loop to watch
// instead of asking InterruptSignal() on a timer; -1 where there is none (Windows, or before
// CatchInterrupts), and the caller asks from time to time.
int InterruptDescriptor();

}  // namespace dpx::cli
