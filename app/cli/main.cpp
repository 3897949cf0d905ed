// tq5-updater: the TQ-5 firmware updater on the command line.

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "app/cli/cli_options.hpp"
#include "app/cli/commands.hpp"
#include "app/cli/interrupt.hpp"
#include "app/cli/json_lines.hpp"

#if defined(__SANITIZE_THREAD__)
// Where closing the MIDI clients could wait without end (a JACK server that stopped
// answering), the program ends by _exit within its bound on purpose; the threads it leaves
// behind then are no fault, and ThreadSanitizer would turn them into exit code 66.
extern "C" const char* __tsan_default_options() { return "report_thread_leaks=0"; }
#endif

namespace {

using namespace tq5::app::cli;

constexpr const char* kPrefix = "tq5-updater: ";

// --json: a run that ends before a command runs still ends with its outcome line.
int EndWithoutCommand(bool json, int exitCode, const char* cause, const std::string& message) {
    if (json) {
        JsonObject line("outcome");
        line.Add("completed", false).AddNull("phase").Add("cause", cause);
        line.Add("message", message).Add("exit-code", exitCode).AddNull("report");
        JsonLines(stdout).Write(line);
    }
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    CatchInterrupts();
    const bool json = AsksForJson(argc, argv);
    try {
        const ParseResult parsed = ParseCommandLine(argc, argv);
        if (!parsed.options) {
            std::fputs(parsed.output.c_str(), parsed.toStderr ? stderr : stdout);
            if (parsed.exitCode == kExitSuccess) return parsed.exitCode;  // help, version
            // The first line without the program's name; the usage lines follow it.
            std::string message = parsed.output.substr(0, parsed.output.find('\n'));
            if (message.rfind(kPrefix, 0) == 0) message.erase(0, std::strlen(kPrefix));
            return EndWithoutCommand(json, parsed.exitCode, "usage", message);
        }
        return RunCommand(*parsed.options, stdout, stderr);
    } catch (const std::exception&) {
        // Nothing in the updater throws; a library that does must not end the program with
        // its own text or an abort.
        constexpr const char* kUnexpected = "an unexpected failure stopped the program.";
        std::fprintf(stderr, "%s%s\n", kPrefix, kUnexpected);
        return EndWithoutCommand(json, kExitFailure, "unexpected", kUnexpected);
    }
}
