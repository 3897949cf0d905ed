#include "app/cli/commands.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/console_host.hpp"
#include "app/cli/failure_report.hpp"
#include "app/cli/interrupt.hpp"
#include "app/cli/midi_system.hpp"
#include "app/cli/port_choice.hpp"
#include "app/instance_number.hpp"
#include "app/port_names.hpp"
#include "app/posix_named_locks.hpp"
#include "app/preferred_ports.hpp"
#include "app/updater_core.hpp"
#include "engine/version_check.hpp"
#include "firmware/embedded_firmware.hpp"

namespace tq5::app::cli {
namespace {

void PrintList(std::FILE* out, const char* heading, const std::vector<std::string>& names,
               int instanceNumber) {
    std::fprintf(out, "%s\n", heading);
    if (names.empty()) std::fprintf(out, "  (none)\n");
    const auto preferred = PreferredPortNames(instanceNumber);
    const std::int32_t chosen = FindPreferredPort(names, instanceNumber);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool isPreferred =
            std::find(preferred.begin(), preferred.end(), names[i]) != preferred.end();
        const char* mark = static_cast<std::int32_t>(i) == chosen ? "  [preferred, default]"
                           : isPreferred                          ? "  [preferred]"
                                                                  : "";
        std::fprintf(out, "  %zu  %s%s\n", i, names[i].c_str(), mark);
    }
}

int ListPorts(const MidiSystem& system, int instanceNumber, std::FILE* out) {
    midi::MidiInPort input(system.backend->CreateInput());
    midi::MidiOutPort output(system.backend->CreateOutput());
    std::fprintf(out, "MIDI system: %s; instance %d\n", system.name.c_str(), instanceNumber);
    PrintList(out, "MIDI inputs:", ListDeviceNames(input), instanceNumber);
    PrintList(out, "MIDI outputs:", ListDeviceNames(output), instanceNumber);
    return kExitSuccess;
}

bool IsLiveTerminal(std::FILE* out) {
    const char* term = std::getenv("TERM");
    return ::isatty(::fileno(out)) != 0 && term != nullptr && std::strcmp(term, "dumb") != 0;
}

// Runs an update or a version check to its end, or until Ctrl-C closes it.
int RunProcedure(const CliOptions& options, const MidiSystem& system, int instanceNumber,
                 std::FILE* out, std::FILE* err) {
    const engine::FirmwareStore& firmware = engine::EmbeddedFirmware();
    ConsoleHost host(out, err, IsLiveTerminal(out), firmware, options.verify);
    CoreSettings settings{*system.backend, firmware};
    settings.verifyFlash = options.verify;
    UpdaterCore core(settings, host);
    host.Attach(core.Context());

    const auto outputs = ListDeviceNames(core.Output());
    const auto inputs = ListDeviceNames(core.Input());
    const PortChoice output = ChoosePort(outputs, options.outPort, instanceNumber, "output", "--out");
    const PortChoice input = ChoosePort(inputs, options.inPort, instanceNumber, "input", "--in");
    for (const PortChoice* choice : {&output, &input}) {
        if (!choice->error.empty()) {
            std::fprintf(err, "tq5-updater: %s\n", choice->error.c_str());
            return kExitUsage;
        }
    }
    host.Select(output.index, input.index);
    std::fprintf(err, "%s: MIDI out %d \"%s\", MIDI in %d \"%s\" (%s)\n",
                 InstanceTitle(instanceNumber).c_str(), output.index,
                 outputs[static_cast<std::size_t>(output.index)].c_str(), input.index,
                 inputs[static_cast<std::size_t>(input.index)].c_str(), system.name.c_str());

    core.StartPolling();
    CatchInterrupts();
    if (core.OpenSelectedPorts() != 0) return kExitFailure;
    host.LockControls();
    const bool update = options.command == Command::Update;
    bool ended = false;
    if (update) {
        core.StartUpdate();
        ended = host.WaitFor([](const ConsoleHost& h) { return h.Released(); }, Interrupted);
    } else {
        core.StartVersionCheck();
        ended = host.WaitFor(
            [](const ConsoleHost& h) { return h.VersionCheckResult().has_value(); }, Interrupted);
    }

    if (!ended) {
        // As closing the window: the procedure ends at its next wait, quietly.
        core.Close();
        core.WaitForWorkers();
        host.EndLine();
        if (update && host.StatusSeen()) {
            std::fprintf(err,
                         "tq5-updater: interrupted. The TQ-5 was left in the middle of its "
                         "update; run `tq5-updater update` again to complete it.\n");
        } else {
            std::fprintf(err, "tq5-updater: interrupted.\n");
        }
        return kExitInterrupted;
    }
    core.WaitForWorkers();
    host.EndLine();
    if (update) {
        const std::optional<engine::Outcome> outcome = host.UpdateOutcome();
        if (outcome && outcome->completed) return kExitSuccess;
        const std::string why = outcome ? ExplainFailure(*outcome, host.LastProgress()) : "";
        if (!why.empty()) std::fprintf(err, "tq5-updater: %s\n", why.c_str());
        return kExitFailure;
    }

    const std::int32_t result = *host.VersionCheckResult();
    engine::OnVersionCheckDone(host, core.Versions(), result);
    if (result == 0) return kExitSuccess;
    if (!host.ErrorShown()) {
        std::fprintf(err, "tq5-updater: the TQ-5 did not answer the reads of its versions.\n");
    }
    return kExitFailure;
}

}  // namespace

int RunCommand(const CliOptions& options, std::FILE* out, std::FILE* err) {
    PosixNamedLocks locks(PosixNamedLocks::DefaultFolder());
    const int instanceNumber = ClaimInstanceNumber(locks);
    if (instanceNumber == 0) {
        std::fprintf(err, "tq5-updater: %s\n", TooManyInstancesText().c_str());
        if (!locks.FolderUsable()) {
            // Not twenty instances: no lock could be had at all. Say where to look.
            std::fprintf(err,
                         "tq5-updater: its instance locks live in %s, which is not a folder "
                         "of this user's own.\n",
                         locks.Folder().c_str());
        }
        return kExitFailure;
    }

    const MidiSystem system = options.simulate ? OpenSimulation(options, instanceNumber)
                                               : OpenMidiSystem(options.api);
    if (!system.backend) {
        if (options.command == Command::Ports) {
            std::fprintf(out, "%s; there are no MIDI ports to list.\n", system.problem.c_str());
            return kExitSuccess;
        }
        std::fprintf(err,
                     "tq5-updater: %s. Start a JACK server or load the ALSA sequencer, or run "
                     "with --simulate against the built-in virtual TQ-5.\n",
                     system.problem.c_str());
        return kExitFailure;
    }
    if (options.command == Command::Ports) return ListPorts(system, instanceNumber, out);
    return RunProcedure(options, system, instanceNumber, out, err);
}

}  // namespace tq5::app::cli
