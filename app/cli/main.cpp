// tq5-updater: the TQ-5 firmware updater on the command line.

#include <cstdio>
#include <exception>

#include "app/cli/cli_options.hpp"
#include "app/cli/commands.hpp"
#include "app/cli/interrupt.hpp"

#if defined(__SANITIZE_THREAD__)
// Where closing the MIDI clients could wait without end (a JACK server that stopped
// answering), the program ends by _exit within its bound on purpose; the threads it leaves
// behind then are no fault, and ThreadSanitizer would turn them into exit code 66.
extern "C" const char* __tsan_default_options() { return "report_thread_leaks=0"; }
#endif

int main(int argc, char** argv) {
    using namespace tq5::app::cli;
    CatchInterrupts();
    try {
        const ParseResult parsed = ParseCommandLine(argc, argv);
        if (!parsed.options) {
            std::fputs(parsed.output.c_str(), parsed.toStderr ? stderr : stdout);
            return parsed.exitCode;
        }
        return RunCommand(*parsed.options, stdout, stderr);
    } catch (const std::exception&) {
        // Nothing in the updater throws; a library that does must not end the program with
        // its own text or an abort.
        std::fputs("tq5-updater: an unexpected failure stopped the program.\n", stderr);
        return kExitFailure;
    }
}
