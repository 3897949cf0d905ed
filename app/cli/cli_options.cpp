#include "app/cli/cli_options.hpp"

#include <CLI/CLI.hpp>

#include <cctype>
#include <string_view>
#include <vector>

#include "app/cli/midi_backends.hpp"
#include "firmware/program_version.hpp"
#include "sim/devsim/fault_option.hpp"

namespace tq5::app::cli {
namespace {

ParseResult UsageError(const std::string& message) {
    return ParseResult{std::nullopt, kExitUsage, "tq5-updater: " + message + "\n" + UsageLine(),
                       true};
}

}  // namespace

std::string UsageLine() {
    return "Usage: tq5-updater [--simulate [--device-mode normal|update] [--device-id HEX8]\n"
           "                              [--device-port NAME] [--device-fault FAULT]...]\n"
           "                   [--api " +
           JoinMidiBackends(&MidiBackendEntry::option, "|", "|") +
           "] [--in PORT] [--out PORT] [--no-verify]\n"
           "                   [--report FILE] [--json] ports|update|version\n";
}

bool AsksForJson(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--json") return true;
    }
    return false;
}

std::optional<protocol::DeviceId> ParseDeviceId(const std::string& text) {
    if (text.size() != 8) return std::nullopt;
    protocol::DeviceId id{};
    for (std::size_t i = 0; i < id.size(); ++i) {
        const std::string pair = text.substr(2 * i, 2);
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
            !std::isxdigit(static_cast<unsigned char>(pair[1]))) {
            return std::nullopt;
        }
        const auto value = std::stoul(pair, nullptr, 16);
        if (value >= 0x80) return std::nullopt;
        id[i] = static_cast<std::uint8_t>(value);
    }
    return id;
}

ParseResult ParseCommandLine(int argc, const char* const* argv) {
    CLI::App app{"Firmware updater for the VARN TQ-5 over MIDI.", "tq5-updater"};
    app.require_subcommand(1, 1);
    app.fallthrough();  // the options may also follow the command

    CliOptions options;
    std::string mode;
    std::string deviceId;
    app.add_option("--in", options.inPort,
                   "MIDI input: index or name (default: preferred, else the TQ-5 that answers)");
    app.add_option("--out", options.outPort,
                   "MIDI output: index or name (default: preferred, else the TQ-5 that answers)");
    std::vector<std::string> apis;
    for (const MidiBackendEntry& entry : MidiBackends()) apis.emplace_back(entry.option);
    app.add_option("--api", options.api,
                   "MIDI system: " + JoinMidiBackends(&MidiBackendEntry::option, ", ", " or "))
        ->check(CLI::IsMember(apis));
    bool noVerify = false;
    app.add_flag("--no-verify", noVerify,
                 "update: skip reading the written flash back and comparing it with the images");
    auto* simulate =
        app.add_flag("--simulate", options.simulate, "run against the built-in virtual TQ-5");
    app.add_option("--device-mode", mode, "virtual TQ-5's mode: normal or update")
        ->check(CLI::IsMember({"normal", "update"}))
        ->needs(simulate);
    app.add_option("--device-id", deviceId, "virtual TQ-5's device id, e.g. 6E000600")
        ->needs(simulate);
    app.add_option("--device-port", options.devicePort,
                   "virtual TQ-5's port name (default: the preferred one)")
        ->needs(simulate);
    std::vector<std::string> faults;
    app.add_option("--device-fault", faults,
                   "a fault the virtual TQ-5 commits, REQUEST:ORDINAL:ACTION[:VALUE] as "
                   "tq5-devsim's --fault (repeatable)")
        ->type_name("FAULT")
        ->needs(simulate);
    app.add_option("--report", options.reportPath,
                   "write a report of the run for the TQ-5's maker's support to FILE (without "
                   "it, one is written after a failed update)")
        ->type_name("FILE");
    app.add_flag("--json", options.json,
                 "one JSON object per line on stdout (progress, phases, the outcome last); "
                 "what a person reads goes to stderr");
    app.set_version_flag("--version", firmware::ProgramVersionText("tq5-updater"),
                         "print the version and the firmware images' versions");
    auto* ports = app.add_subcommand("ports", "list the MIDI inputs and outputs");
    auto* update = app.add_subcommand("update", "update the TQ-5's firmware");
    auto* version = app.add_subcommand("version", "show the TQ-5's and this updater's versions");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        return ParseResult{std::nullopt, kExitSuccess, app.help(), false};
    } catch (const CLI::CallForVersion& shown) {
        return ParseResult{std::nullopt, kExitSuccess, std::string(shown.what()) + "\n", false};
    } catch (const CLI::ParseError& e) {
        return UsageError(e.what());
    }

    if (ports->parsed()) options.command = Command::Ports;
    if (update->parsed()) options.command = Command::Update;
    if (version->parsed()) options.command = Command::Version;
    options.verify = !noVerify;
    if (mode == "normal") options.deviceMode = sim::DeviceMode::Normal;
    if (!deviceId.empty()) {
        const auto id = ParseDeviceId(deviceId);
        if (!id) {
            return UsageError(
                "--device-id takes eight hex digits, each byte below 80, e.g. 6E000600");
        }
        options.deviceId = *id;
    }
    for (const std::string& text : faults) {
        const std::optional<sim::Fault> fault = sim::ParseFaultOption(text);
        if (!fault)
            return UsageError("--device-fault " + text + " is not a fault:\n" +
                              sim::FaultOptionHelp());
        options.deviceFaults.push_back(*fault);
    }
    if (options.simulate && !options.api.empty()) {
        return UsageError("--api chooses a real MIDI system; --simulate uses none");
    }
    return ParseResult{options, kExitSuccess, {}, false};
}

}  // namespace tq5::app::cli
