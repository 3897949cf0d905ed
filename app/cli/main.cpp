// tq5-updater: the TQ-5 firmware updater on the command line.

#include <cstdio>
#include <exception>

#include "app/cli/cli_options.hpp"
#include "app/cli/commands.hpp"
#include "app/cli/interrupt.hpp"

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
