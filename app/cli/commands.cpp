#include "app/cli/commands.hpp"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/console_host.hpp"
#include "app/cli/failure_report.hpp"
#include "app/cli/interrupt.hpp"
#include "app/cli/midi_system.hpp"
#include "app/cli/port_choice.hpp"
#include "app/cli/port_search.hpp"
#include "app/cli/printable_text.hpp"
#include "app/instance_number.hpp"
#include "app/port_names.hpp"
#include "app/posix/posix_named_locks.hpp"
#include "app/read_back_note.hpp"
#include "app/updater_core.hpp"
#include "engine/procedures/version_check.hpp"
#include "firmware/embedded_firmware.hpp"

namespace tq5::app::cli {
namespace {

constexpr const char* kBeforeUpdateNotice =
    "tq5-updater: interrupted before the TQ-5's flash was changed; run `tq5-updater update` "
    "again to update it.\n";
constexpr const char* kMidUpdateNotice =
    "tq5-updater: interrupted. The TQ-5 was left in the middle of its update; run "
    "`tq5-updater update` again to complete it.\n";

// Closing the MIDI clients at the end may wait for a busy server; past this bound the
// program ends without waiting for them.
constexpr int kTeardownMs = 3000;

// libjack waits without end for a server that has stopped answering without ending; an
// open of the MIDI system or of the ports that takes this long is given up.
constexpr int kMidiStallMs = 20000;
constexpr const char* kMidiStalled =
    "tq5-updater: the MIDI system did not answer within 20 seconds (a JACK server that has "
    "stopped?); nothing was sent to the TQ-5.\n";

int Finish(int exitCode) {
    FinishWithin(exitCode, kTeardownMs);
    return exitCode;
}

int EndInterrupted() {
    PrintInterruptNotice();
    return Finish(kExitInterrupted);
}

// A search asks each output twice at most, each time bounded by the send and the window.
int SearchStallMs(std::size_t outputs) {
    return kMidiStallMs + static_cast<int>(outputs) * 2 * 1300;
}

constexpr const char* kSearching = "tq5-updater: asking the MIDI ports for a TQ-5...\n";

void PrintList(std::FILE* out, const char* heading, const PortLists& lists, bool isOutput,
               int instanceNumber, const SearchResult& search, const DefaultPorts& defaults) {
    const std::vector<std::string>& names = isOutput ? lists.outputs : lists.inputs;
    std::fprintf(out, "%s\n", heading);
    if (names.empty()) std::fprintf(out, "  (none)\n");
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::fprintf(out, "  %zu  %s%s\n", i, PrintableText(names[i]).c_str(),
                     PortMarks(lists, instanceNumber, search, defaults, isOutput, i).c_str());
    }
}

// Lists the ports, asking every output for a TQ-5 on the way, and marks where one answered.
int ListPorts(const MidiSystem& system, int instanceNumber, std::FILE* out, std::FILE* err) {
    PortLists lists;
    {
        midi::MidiInPort input(system.backend->CreateInput());
        midi::MidiOutPort output(system.backend->CreateOutput());
        lists = {ListFullDeviceNames(output), ListFullDeviceNames(input)};
    }
    SearchResult search;
    if (!lists.outputs.empty() && !lists.inputs.empty()) {
        std::fputs(kSearching, err);
        const StallGuard guard(SearchStallMs(lists.outputs.size()), kExitFailure, kMidiStalled);
        search = SearchForDevices(*system.backend, PortsToSearch(lists.outputs.size(), -1),
                                  PortsToSearch(lists.inputs.size(), -1), Interrupted);
    }
    if (search.stopped) return EndInterrupted();
    const DefaultPorts defaults = DefaultPortsOf(lists, instanceNumber, search.tq5s);
    std::fprintf(out, "MIDI system: %s; instance %d\n", system.name.c_str(), instanceNumber);
    PrintList(out, "MIDI inputs:", lists, false, instanceNumber, search, defaults);
    PrintList(out, "MIDI outputs:", lists, true, instanceNumber, search, defaults);
    std::fprintf(out, "%s\n", SearchSummary(lists, search).c_str());
    return kExitSuccess;
}

bool IsLiveTerminal(std::FILE* out) {
    const char* term = std::getenv("TERM");
    return ::isatty(::fileno(out)) != 0 && term != nullptr && std::strcmp(term, "dumb") != 0;
}

// Runs an update or a version check to its end, or until Ctrl-C closes it.
int RunProcedure(const CliOptions& options, const MidiSystem& system, int instanceNumber,
                 std::FILE* out, std::FILE* err) {
    const engine::FirmwareStore& firmware = firmware::EmbeddedFirmware();
    ConsoleHost host(out, err, IsLiveTerminal(out), firmware, options.verify);
    CoreSettings settings{*system.backend, firmware};
    settings.verifyFlash = options.verify;
    UpdaterCore core(settings, host);
    host.Attach(core.Context());

    const PortLists lists{ListFullDeviceNames(core.Output()), ListFullDeviceNames(core.Input())};
    const auto& outputs = lists.outputs;
    const auto& inputs = lists.inputs;
    PortChoice output = ChoosePort(outputs, options.outPort, instanceNumber, "output", "--out");
    PortChoice input = ChoosePort(inputs, options.inPort, instanceNumber, "input", "--in");
    if (Interrupted()) return EndInterrupted();
    for (const PortChoice* choice : {&output, &input}) {
        if (!choice->error.empty()) {
            std::fprintf(err, "tq5-updater: %s\n", choice->error.c_str());
            return Finish(kExitUsage);
        }
    }
    if (output.search || input.search) {
        std::fputs(kSearching, err);
        FoundPorts found;
        {
            const StallGuard guard(SearchStallMs(outputs.size()), kExitFailure, kMidiStalled);
            found = FindTq5Ports(*system.backend, lists, output, input, Interrupted);
        }
        if (found.interrupted || Interrupted()) return EndInterrupted();
        if (found.exitCode != 0) {
            std::fprintf(err, "tq5-updater: %s\n", found.error.c_str());
            return Finish(found.exitCode);
        }
        output.index = found.output;
        input.index = found.input;
        std::fprintf(err, "tq5-updater: a TQ-5 answered on MIDI out %d and MIDI in %d.\n",
                     output.index, input.index);
    }
    host.Select(output.index, input.index);
    std::fprintf(err, "%s: MIDI out %d \"%s\", MIDI in %d \"%s\" (%s)\n",
                 InstanceTitle(instanceNumber).c_str(), output.index,
                 PrintableText(outputs[static_cast<std::size_t>(output.index)]).c_str(),
                 input.index, PrintableText(inputs[static_cast<std::size_t>(input.index)]).c_str(),
                 system.name.c_str());

    core.StartPolling();
    int opened = -1;
    {
        const StallGuard guard(kMidiStallMs, kExitFailure, kMidiStalled);
        opened = core.OpenSelectedPorts();
    }
    if (opened != 0) {
        if (Interrupted()) return EndInterrupted();
        // What the message box can't say: why the port could not be opened.
        for (const std::string& problem :
             {core.Output().OpenProblem(), core.Input().OpenProblem()}) {
            if (!problem.empty()) std::fprintf(err, "tq5-updater: %s.\n", problem.c_str());
        }
        return Finish(kExitFailure);
    }
    if (Interrupted()) return EndInterrupted();
    host.LockControls();
    const bool update = options.command == Command::Update;
    bool ended = false;
    if (update) {
        // From the first status line on, the device has been asked into its update mode.
        host.OnFirstStatus([] { SetInterruptNotice(kMidUpdateNotice); });
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
        return EndInterrupted();
    }
    core.WaitForWorkers();
    host.EndLine();
    // A device that vanished explains any failure: it is what the user has to mend.
    const bool gone = core.Output().DeviceGone() || core.Input().DeviceGone();
    if (update) {
        const std::optional<engine::Outcome> outcome = host.UpdateOutcome();
        if (outcome && outcome->completed) {
            const std::string note = ReadBackNote(outcome->readBack);
            if (!note.empty()) {
                std::fprintf(err,
                             "tq5-updater: %s `tq5-updater version` shows the versions it "
                             "now reports.\n",
                             note.c_str());
            }
            return Finish(kExitSuccess);
        }
        const std::string why = gone      ? ExplainDeviceGone(host.LastProgress(), "update")
                                : outcome ? ExplainFailure(*outcome, host.LastProgress())
                                          : "";
        if (!why.empty()) std::fprintf(err, "tq5-updater: %s\n", why.c_str());
        return Finish(kExitFailure);
    }

    const std::int32_t result = *host.VersionCheckResult();
    engine::OnVersionCheckDone(host, core.Versions(), result);
    if (result == 0) return Finish(kExitSuccess);
    if (gone) {
        std::fprintf(err, "tq5-updater: %s\n",
                     ExplainDeviceGone(host.LastProgress(), "version").c_str());
    } else if (!host.ErrorShown()) {
        std::fprintf(err, "tq5-updater: the TQ-5 did not answer the reads of its versions.\n");
    }
    return Finish(kExitFailure);
}

}  // namespace

int RunCommand(const CliOptions& options, std::FILE* out, std::FILE* err) {
    if (options.command == Command::Update) SetInterruptNotice(kBeforeUpdateNotice);
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
    }
    const std::vector<std::string>& unusable = locks.UnusableFiles();
    if (!unusable.empty()) {
        // Numbers whose lock files are broken count as taken although nothing holds them.
        std::fprintf(err,
                     "tq5-updater: %zu instance lock file(s) can't be used, so their numbers "
                     "count as taken although no updater holds them; remove them:\n",
                     unusable.size());
        for (const std::string& file : unusable) std::fprintf(err, "  %s\n", file.c_str());
    }
    if (instanceNumber == 0) return kExitFailure;

    MidiSystem system;
    {
        const StallGuard guard(kMidiStallMs, kExitFailure, kMidiStalled);
        system = options.simulate ? OpenSimulation(options, instanceNumber)
                                  : OpenMidiSystem(options.api);
    }
    if (Interrupted()) return EndInterrupted();
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
    if (options.command == Command::Ports) {
        return Finish(ListPorts(system, instanceNumber, out, err));
    }
    return RunProcedure(options, system, instanceNumber, out, err);
}

}  // namespace tq5::app::cli
