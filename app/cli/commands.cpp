#include "app/cli/commands.hpp"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/computer.hpp"
#include "app/cli/console_host.hpp"
#include "app/cli/failure_report.hpp"
#include "app/cli/interrupt.hpp"
#include "app/cli/json_lines.hpp"
#include "app/cli/midi_system.hpp"
#include "app/cli/port_choice.hpp"
#include "app/cli/port_search.hpp"
#include "app/cli/report_file.hpp"
#include "app/instance_number.hpp"
#include "app/outcome_keys.hpp"
#include "app/port_names.hpp"
#include "app/posix/posix_named_locks.hpp"
#include "app/printable_text.hpp"
#include "app/read_back_note.hpp"
#include "app/support_report.hpp"
#include "app/updater_core.hpp"
#include "engine/procedures/version_check.hpp"
#include "engine/string_table.hpp"
#include "firmware/embedded_firmware.hpp"
#include "firmware/program_version.hpp"

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

// --json: the outcome lines of the endings the interrupt watcher decides on its own.
constexpr const char* kJsonInterrupted =
    "{\"event\":\"outcome\",\"completed\":false,\"phase\":null,\"cause\":\"interrupted\","
    "\"exit-code\":130,\"report\":null}\n";
constexpr const char* kJsonStalled =
    "{\"event\":\"outcome\",\"completed\":false,\"phase\":null,\"cause\":\"midi-system-stalled\","
    "\"exit-code\":1,\"report\":null}\n";

constexpr const char* kSearching = "tq5-updater: asking the MIDI ports for a TQ-5...\n";

// A search asks each output twice at most, each time bounded by the send and the window.
int SearchStallMs(std::size_t outputs) {
    return kMidiStallMs + static_cast<int>(outputs) * 2 * 1300;
}

std::string_view CommandName(Command command) {
    switch (command) {
        case Command::Ports:
            return "ports";
        case Command::Update:
            return "update";
        case Command::Version:
            return "version";
    }
    return {};
}

std::string ChosenBy(const PortChoice& choice, const std::string& wanted) {
    if (choice.search) return "found-by-asking";
    return wanted.empty() ? "preferred" : "named";
}

JsonObject PortObject(const ReportPort& port) {
    JsonObject object("port");
    object.Add("index", port.index).Add("name", port.name).Add("chosen-by", port.chosenBy);
    return object;
}

bool IsLiveTerminal(std::FILE* out) {
    const char* term = std::getenv("TERM");
    return ::isatty(::fileno(out)) != 0 && term != nullptr && std::strcmp(term, "dumb") != 0;
}

// One run of a command: what it has learnt for its support report and its JSON lines, and
// how it ends.
class Run {
public:
    Run(const CliOptions& options, std::FILE* out, std::FILE* err)
        : options_(options), err_(err), human_(options.json ? err : out), json_(out) {
        facts_.program = "tq5-updater";
        facts_.programVersion = std::string(firmware::ProgramVersion());
        facts_.images = &firmware::EmbeddedFirmware();
        facts_.generatedImages = firmware::EmbeddedFirmwareIsGenerated();
        facts_.command = std::string(CommandName(options.command));
        facts_.computer = ComputerFacts();
        facts_.verify = options.command == Command::Update && options.verify;
        if (options.json) SetJsonEndings(kJsonInterrupted, kJsonStalled);
    }

    const CliOptions& Options() const { return options_; }
    // Where what a person reads goes: stdout, or stderr under --json.
    std::FILE* Human() const { return human_; }
    std::FILE* Err() const { return err_; }
    JsonLines* Json() { return options_.json ? &json_ : nullptr; }
    ReportFacts& Facts() { return facts_; }

    // The line that says why the run fails, then its end.
    int Fail(int exitCode, std::string_view cause, const std::string& message) {
        std::fprintf(err_, "tq5-updater: %s\n", message.c_str());
        return End(exitCode, cause, message);
    }

    int EndInterrupted() {
        PrintInterruptNotice();
        return End(kExitInterrupted, "interrupted", {});
    }

    // The end of the run: the report (asked for, or after a failed update), the JSON lines
    // of the read-back check and the outcome, then the teardown's bound. Neither the report
    // nor a failure to write it changes the exit code.
    int End(int exitCode, std::string_view cause, const std::string& message) {
        facts_.exitCode = exitCode;
        if (!facts_.outcome && exitCode != kExitSuccess) facts_.programCause = std::string(cause);
        const std::optional<ReportWritten> report = WriteReport(exitCode);
        if (options_.json) {
            if (options_.command == Command::Update && facts_.traffic) WriteReadBackLine();
            WriteOutcomeLine(exitCode, message, report);
        }
        FinishWithin(exitCode, kTeardownMs);
        return exitCode;
    }

private:
    std::optional<ReportWritten> WriteReport(int exitCode) {
        const bool asked = !options_.reportPath.empty();
        if (!asked && !(options_.command == Command::Update && exitCode == kExitFailure)) {
            return std::nullopt;
        }
        const std::string text = SupportReportText(facts_);
        const ReportWritten written = asked
                                          ? WriteReportTo(options_.reportPath, text)
                                          : WriteNewReport(text, std::chrono::system_clock::now());
        const std::string path = PrintableText(written.path);
        if (!written.error.empty()) {
            std::fprintf(err_, "tq5-updater: the report could not be written to %s: %s.\n",
                         path.c_str(), written.error.c_str());
        } else if (!asked) {
            std::fprintf(err_,
                         "tq5-updater: a report of what happened, to send to the TQ-5's "
                         "maker's support, is in %s\n",
                         path.c_str());
        }
        return written;
    }

    void WriteReadBackLine() {
        JsonObject line("read-back");
        line.Add("result", ReadBackKey(facts_));
        if (const std::optional<engine::Outcome>& o = facts_.outcome) {
            const engine::ReadBack& r = o->readBack;
            line.Add("verified", o->verified);
            line.AddOptional("read-size", r.readBytes != 0
                                              ? std::optional<std::int64_t>(r.readBytes)
                                              : std::nullopt);
            line.Add("bytes-compared", r.bytesCompared);
            line.Add("blocks-found-written", r.blocksFoundWritten);
            if (r.result == engine::ReadBackResult::Unreadable) {
                line.Add("unreadable-cause", CauseKey(r.unreadable));
                line.Add("unreadable-status", r.status);
            }
        }
        json_.Write(line);
    }

    void WriteOutcomeLine(int exitCode, const std::string& message,
                          const std::optional<ReportWritten>& report) {
        JsonObject line("outcome");
        line.Add("completed", facts_.outcome ? facts_.outcome->completed : exitCode == 0);
        if (const std::optional<engine::Outcome>& o = facts_.outcome) {
            line.Add("phase", PhaseKey(o->phase)).Add("cause", CauseKey(o->cause));
            // Each only where the cause gives it a meaning; null elsewhere.
            const OutcomeDetails details = DetailsOf(*o, facts_.lastProgress);
            line.AddOptional("status", details.status).AddOptional("image", details.image);
            line.AddOptional("address", details.address).AddOptional("row", details.row);
            line.Add("rows", facts_.lastProgress.rows);
            line.Add("message-id", o->messageId);
            if (o->messageId != 0) line.Add("message", engine::LoadText(o->messageId));
        } else {
            // An interrupted procedure was in the step it last reported.
            if (exitCode == kExitInterrupted && facts_.traffic) {
                line.Add("phase", PhaseKey(facts_.lastProgress.phase));
            } else {
                line.AddNull("phase");
            }
            line.Add("cause", exitCode == 0 ? "none" : facts_.programCause);
            if (!message.empty()) line.Add("message", message);
        }
        line.Add("exit-code", exitCode);
        if (report && report->error.empty()) {
            line.Add("report", report->path);
        } else {
            line.AddNull("report");
        }
        json_.Write(line);
    }

    const CliOptions& options_;
    std::FILE* const err_;
    std::FILE* const human_;
    JsonLines json_;
    ReportFacts facts_;
};

void PrintList(Run& run, const char* heading, const PortLists& lists, bool isOutput,
               int instanceNumber, const SearchResult& search, const DefaultPorts& defaults) {
    const std::vector<std::string>& names = isOutput ? lists.outputs : lists.inputs;
    std::FILE* out = run.Human();
    std::fprintf(out, "%s\n", heading);
    if (names.empty()) std::fprintf(out, "  (none)\n");
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::fprintf(out, "  %zu  %s%s\n", i, PrintableText(names[i]).c_str(),
                     PortMarks(lists, instanceNumber, search, defaults, isOutput, i).c_str());
        if (JsonLines* json = run.Json()) {
            const PortMarkSet marks = MarksOf(lists, instanceNumber, search, defaults, isOutput, i);
            JsonObject line("port");
            line.Add("direction", isOutput ? "out" : "in");
            line.Add("index", static_cast<std::int64_t>(i)).Add("name", names[i]);
            line.Add("preferred", marks.preferred).AddIntegers("tq5-with", marks.tq5With);
            line.Add("default", marks.isDefault);
            json->Write(line);
        }
    }
}

// Lists the ports, asking every output for a TQ-5 on the way, and marks where one answered.
int ListPorts(Run& run, const MidiSystem& system, int instanceNumber) {
    PortLists lists;
    {
        midi::MidiInPort input(system.backend->CreateInput());
        midi::MidiOutPort output(system.backend->CreateOutput());
        lists = {ListFullDeviceNames(output), ListFullDeviceNames(input)};
    }
    SearchResult search;
    if (!lists.outputs.empty() && !lists.inputs.empty()) {
        std::fputs(kSearching, run.Err());
        const StallGuard guard(SearchStallMs(lists.outputs.size()), kExitFailure, kMidiStalled);
        search = SearchForDevices(*system.backend, PortsToSearch(lists.outputs.size(), -1),
                                  PortsToSearch(lists.inputs.size(), -1), Interrupted);
    }
    if (search.stopped) return run.EndInterrupted();
    const DefaultPorts defaults = DefaultPortsOf(lists, instanceNumber, search.tq5s);
    std::fprintf(run.Human(), "MIDI system: %s; instance %d\n", system.name.c_str(),
                 instanceNumber);
    PrintList(run, "MIDI inputs:", lists, false, instanceNumber, search, defaults);
    PrintList(run, "MIDI outputs:", lists, true, instanceNumber, search, defaults);
    std::fprintf(run.Human(), "%s\n", SearchSummary(lists, search).c_str());
    return run.End(kExitSuccess, {}, {});
}

void WriteVersionsLine(JsonLines& json, const engine::VersionStrings& versions) {
    using engine::VersionSlot;
    using engine::VersionSource;
    JsonObject line("versions");
    for (const auto source : {VersionSource::Device, VersionSource::Image}) {
        JsonObject fields("versions");
        fields.Add("system", versions.Get(source, VersionSlot::System));
        fields.Add("preset", versions.Get(source, VersionSlot::Preset));
        fields.Add("boot", versions.Get(source, VersionSlot::Boot));
        line.AddObject(source == VersionSource::Device ? "device" : "images", fields);
    }
    json.Write(line);
}

// Runs an update or a version check to its end, or until Ctrl-C closes it.
int RunProcedure(Run& run, const MidiSystem& system, int instanceNumber) {
    const CliOptions& options = run.Options();
    ReportFacts& facts = run.Facts();
    const engine::FirmwareStore& firmware = firmware::EmbeddedFirmware();
    ConsoleHost host(run.Human(), run.Err(), IsLiveTerminal(run.Human()), firmware, options.verify);
    host.SetJson(run.Json());
    CoreSettings settings{*system.backend, firmware};
    settings.verifyFlash = options.verify;
    UpdaterCore core(settings, host);
    host.Attach(core.Context());

    const PortLists lists{ListFullDeviceNames(core.Output()), ListFullDeviceNames(core.Input())};
    const auto& outputs = lists.outputs;
    const auto& inputs = lists.inputs;
    PortChoice output = ChoosePort(outputs, options.outPort, instanceNumber, "output", "--out");
    PortChoice input = ChoosePort(inputs, options.inPort, instanceNumber, "input", "--in");
    if (Interrupted()) return run.EndInterrupted();
    for (const PortChoice* choice : {&output, &input}) {
        if (!choice->error.empty()) return run.Fail(kExitUsage, "no-port", choice->error);
    }
    if (output.search || input.search) {
        std::fputs(kSearching, run.Err());
        FoundPorts found;
        {
            const StallGuard guard(SearchStallMs(outputs.size()), kExitFailure, kMidiStalled);
            found = FindTq5Ports(*system.backend, lists, output, input, Interrupted);
        }
        if (found.interrupted || Interrupted()) return run.EndInterrupted();
        if (found.exitCode != 0) return run.Fail(found.exitCode, "no-tq5-found", found.error);
        output.index = found.output;
        input.index = found.input;
        std::fprintf(run.Err(), "tq5-updater: a TQ-5 answered on MIDI out %d and MIDI in %d.\n",
                     output.index, input.index);
    }
    const std::string& outName = outputs[static_cast<std::size_t>(output.index)];
    const std::string& inName = inputs[static_cast<std::size_t>(input.index)];
    facts.output = {output.index, outName, ChosenBy(output, options.outPort)};
    facts.input = {input.index, inName, ChosenBy(input, options.inPort)};
    if (JsonLines* json = run.Json()) {
        JsonObject line("start");
        line.Add("program", facts.program).Add("program-version", facts.programVersion);
        line.Add("command", facts.command).Add("midi-system", facts.midiSystem);
        line.Add("instance", instanceNumber).Add("verify", facts.verify);
        line.AddObject("out", PortObject(facts.output)).AddObject("in", PortObject(facts.input));
        json->Write(line);
    }
    host.Select(output.index, input.index);
    std::fprintf(run.Err(), "%s: MIDI out %d \"%s\", MIDI in %d \"%s\" (%s)\n",
                 InstanceTitle(instanceNumber).c_str(), output.index,
                 PrintableText(outName).c_str(), input.index, PrintableText(inName).c_str(),
                 system.name.c_str());

    core.StartPolling();
    bool opened = false;
    {
        const StallGuard guard(kMidiStallMs, kExitFailure, kMidiStalled);
        opened = core.OpenSelectedPorts();
    }
    if (!opened) {
        if (Interrupted()) return run.EndInterrupted();
        // What the message box can't say: why the port could not be opened.
        std::string why;
        for (const std::string& problem :
             {core.Output().OpenProblem(), core.Input().OpenProblem()}) {
            if (problem.empty()) continue;
            std::fprintf(run.Err(), "tq5-updater: %s.\n", problem.c_str());
            if (why.empty()) why = problem + ".";
        }
        return run.End(kExitFailure, "port-open-failed", why);
    }
    if (Interrupted()) return run.EndInterrupted();
    const bool update = options.command == Command::Update;
    bool ended = false;
    if (update) {
        // From the first status line on, the device has been asked into its update mode.
        host.OnFirstStatus([] { SetInterruptNotice(kMidUpdateNotice); });
        core.StartUpdate();
        ended = host.WaitFor([](const ConsoleHost& h) { return h.HasOutcome(); }, Interrupted);
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
        facts.lastProgress = host.LastProgress();
        facts.traffic = core.Context().Log().Snapshot();
        return run.EndInterrupted();
    }
    core.WaitForWorkers();
    host.EndLine();
    // A device that vanished explains any failure: it is what the user has to mend.
    const bool gone = core.Output().DeviceGone() || core.Input().DeviceGone();
    facts.deviceGone = gone;
    facts.lastProgress = host.LastProgress();
    facts.traffic = host.Traffic();
    if (!facts.traffic) facts.traffic = core.Context().Log().Snapshot();
    if (update) {
        facts.outcome = host.UpdateOutcome();
        if (facts.outcome && facts.outcome->completed) {
            const std::string note = ReadBackNote(facts.outcome->readBack);
            if (!note.empty()) {
                std::fprintf(run.Err(),
                             "tq5-updater: %s `tq5-updater version` shows the versions it "
                             "now reports.\n",
                             note.c_str());
            }
            return run.End(kExitSuccess, {}, {});
        }
        const std::string why = gone            ? ExplainDeviceGone(facts.lastProgress, "update")
                                : facts.outcome ? ExplainFailure(*facts.outcome, facts.lastProgress)
                                                : "";
        if (!why.empty()) std::fprintf(run.Err(), "tq5-updater: %s\n", why.c_str());
        return run.End(kExitFailure, gone ? "device-gone" : "no-outcome", why);
    }

    const bool read = *host.VersionCheckResult();
    engine::OnVersionCheckDone(host, core.Versions(), read);
    if (read) {
        if (JsonLines* json = run.Json()) WriteVersionsLine(*json, core.Versions());
        return run.End(kExitSuccess, {}, {});
    }
    if (gone) {
        const std::string why = ExplainDeviceGone(host.LastProgress(), "version");
        std::fprintf(run.Err(), "tq5-updater: %s\n", why.c_str());
        return run.End(kExitFailure, "device-gone", why);
    }
    constexpr const char* kUnread = "the TQ-5 did not answer the reads of its versions.";
    if (!host.ErrorShown()) std::fprintf(run.Err(), "tq5-updater: %s\n", kUnread);
    return run.End(kExitFailure, "versions-unread", kUnread);
}

}  // namespace

int RunCommand(const CliOptions& options, std::FILE* out, std::FILE* err) {
    if (options.command == Command::Update) SetInterruptNotice(kBeforeUpdateNotice);
    Run run(options, out, err);
    PosixNamedLocks locks(PosixNamedLocks::DefaultFolder());
    const int instanceNumber = ClaimInstanceNumber(locks);
    run.Facts().instance = instanceNumber;
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
    if (instanceNumber == 0)
        return run.End(kExitFailure, "no-instance-number", TooManyInstancesText());

    MidiSystem system;
    {
        const StallGuard guard(kMidiStallMs, kExitFailure, kMidiStalled);
        system = options.simulate ? OpenSimulation(options, instanceNumber)
                                  : OpenMidiSystem(options.api);
    }
    run.Facts().midiSystem = system.name;
    if (Interrupted()) return run.EndInterrupted();
    if (!system.backend) {
        run.Facts().midiSystem = "none";
        if (options.command == Command::Ports) {
            std::fprintf(run.Human(), "%s; there are no MIDI ports to list.\n",
                         system.problem.c_str());
            return run.End(kExitSuccess, {}, {});
        }
        return run.Fail(kExitFailure, "no-midi-system",
                        system.problem +
                            ". Start a JACK server or load the ALSA sequencer, or run with "
                            "--simulate against the built-in virtual TQ-5.");
    }
    if (options.command == Command::Ports) return ListPorts(run, system, instanceNumber);
    return RunProcedure(run, system, instanceNumber);
}

}  // namespace tq5::app::cli
