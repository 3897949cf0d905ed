#pragma once
// How tq5-updater stops when it is told to: Ctrl-C (SIGINT), SIGTERM, or SIGHUP when its
// terminal or ssh session goes away. The first of them is noted here; the running procedure
// is ended as closing the updater's window ends it, and the program says where it left the
// TQ-5 and exits with 130. Should anything keep the program from ending on its own within
// kInterruptGraceMs (a MIDI server that no longer answers, a port that takes its time to
// open), a watcher thread prints that notice itself and ends the process. A second signal
// ends it at once.
//
// The signals reach the watcher thread alone (every other thread blocks them), and the
// handlers are installed with SA_RESTART, so that a signal never makes a system call of the
// program or its libraries fail. SIGPIPE is ignored: output to a pipe whose reader has gone
// (`tq5-updater update | head -1`) is dropped and the update goes on.

namespace tq5::app::cli {

inline constexpr int kInterruptGraceMs = 500;

// Installs the handlers and starts the watcher. Call once, on the main thread, before any
// other thread starts.
void CatchInterrupts();
bool Interrupted();

// The line (with its newline) that tells the user where an interruption leaves things at
// this point of the program; it must stay valid for the program's life. Until it is set:
// "tq5-updater: interrupted.".
void SetInterruptNotice(const char* line);
// Prints the notice to stderr, once, whichever of the program and the watcher comes first.
void PrintInterruptNotice();

// --json: the lines (each with its newline) that the watcher writes to stdout as the run's
// outcome when it ends the process itself, after an interruption and after a stalled MIDI
// system; they must stay valid for the program's life. A second signal ends the process at
// once, without one.
void SetJsonEndings(const char* interrupted, const char* stalled);

// The program's result is known and it is tearing down (closing its MIDI clients): should
// that take longer than `boundMs`, the watcher ends the process with `exitCode`. An
// interruption from here on ends it with `exitCode` too, and without a notice.
void FinishWithin(int exitCode, int boundMs);

// Around a call into the MIDI system that may never return: libjack's open waits without
// end for a server that has stopped answering without ending. Should the call not have
// returned within `boundMs`, the watcher prints `line` and ends the process with `exitCode`.
class StallGuard {
public:
    StallGuard(int boundMs, int exitCode, const char* line);
    ~StallGuard();
    StallGuard(const StallGuard&) = delete;
    StallGuard& operator=(const StallGuard&) = delete;
};

}  // namespace tq5::app::cli
