#include "sim/devsim/devsim_options.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "firmware/program_version.hpp"
#include "sim/devsim/fault_option.hpp"
#include "sim/devsim/mode_option.hpp"
#include "sim/devsim/state_file.hpp"

namespace tq5::sim {
namespace {

// "6E:00:05:00" or "6E 00 05 00" -> four bytes; false on anything else.
bool ParseDeviceId(const std::string& text, protocol::DeviceId& id) {
    std::string digits;
    for (char c : text) {
        if (c != ':' && c != ' ') digits.push_back(c);
    }
    if (digits.size() != 8) return false;
    for (std::size_t i = 0; i < id.size(); ++i) {
        std::size_t used = 0;
        unsigned long value = 0;
        try {
            value = std::stoul(digits.substr(2 * i, 2), &used, 16);
        } catch (...) {
            return false;
        }
        if (used != 2 || value > 0x7F) return false;
        id[i] = static_cast<std::uint8_t>(value);
    }
    return true;
}

// A number that is finite (CLI11 reads "nan" and "inf" as numbers, and every comparison
// with nan is false) and lies above `low` (or at it, when `lowIncluded`) and at most `high`.
CLI::Validator FiniteIn(double low, bool lowIncluded, double high) {
    return CLI::Validator(
        [=](const std::string& text) {
            double value = 0.0;
            if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || value < low ||
                (!lowIncluded && value == low) || value > high) {
                std::ostringstream range;
                range << (lowIncluded ? "from " : "above ") << low
                      << (lowIncluded ? " to " : ", at most ") << high << ": " << text;
                return range.str();
            }
            return std::string();
        },
        "NUMBER");
}

}  // namespace

std::optional<DevsimOptions> ParseDevsimOptions(int argc, char** argv, int& exitCode) {
    DevsimOptions options;
    CLI::App app{"tq5-devsim: a virtual TQ-5 on JACK or ALSA MIDI ports, or on a rawmidi device"};
    app.set_version_flag("--version", firmware::ProgramVersionText("tq5-devsim"),
                         "print the version and the firmware images' versions");

    const std::map<std::string, DevsimApi> apis{{"jack", DevsimApi::Jack},
                                                {"alsa", DevsimApi::Alsa},
                                                {"rawmidi", DevsimApi::RawMidi},
                                                {"usb-gadget", DevsimApi::UsbGadget}};
    app.add_option("--api", options.api,
                   "MIDI system: jack, alsa (sequencer ports of its own), rawmidi (--device) "
                   "or usb-gadget (a USB MIDI device of its own through gadgetfs, as root)")
        ->transform(CLI::CheckedTransformer(apis, CLI::ignore_case));
    app.add_option("--gadgetfs", options.gadgetfs,
                   "with --api usb-gadget: where gadgetfs is mounted")
        ->capture_default_str();
    app.add_option("--device", options.rawmidiDevice,
                   "with --api rawmidi: the rawmidi device to serve on, e.g. hw:0,0 (the "
                   "device side of a USB MIDI gadget)");
    app.add_option("--client-name", options.clientName, "client name on the MIDI system");
    app.add_option("--port-name", options.portName, "ports are '<name> in' and '<name> out'");
    app.add_option("--state-file", options.stateFile,
                   "file with the flash state, rewritten at start, on SIGUSR1 and at exit")
        ->check([](const std::string& path) {
            const std::string problem = StateFileProblem(path);
            return problem.empty() ? std::string() : path + ": " + problem;
        });

    std::string id = "6E:00:05:00";
    app.add_option("--id", id, "device id: four hex bytes, e.g. 6E:00:05:00")
        ->check([](const std::string& text) {
            protocol::DeviceId parsed{};
            return ParseDeviceId(text, parsed) ? std::string() : "four hex bytes below 80";
        });
    app.add_option("--mode", options.device.mode,
                   "normal, update-ready (booted for an update) or flash-writing")
        ->transform(CLI::CheckedTransformer(DeviceModeNames(), CLI::ignore_case));
    app.add_flag("--erased", options.device.firmware.erased, "start with an erased flash");
    app.add_option("--boot-version", options.device.firmware.bootVersion,
                   "installed boot version (default: the built-in image's)");
    app.add_option("--preset-version", options.device.firmware.presetVersion,
                   "installed preset version (default: the built-in image's)");
    app.add_option("--system-version", options.device.firmware.systemVersion,
                   "installed system version")
        ->capture_default_str();
    app.add_flag("--finish-with-completion", options.device.finishWithCompletionNotice,
                 "answer the finish request with the completion notice");
    app.add_flag("--early-completion", options.device.earlyCompletionNotice,
                 "send the completion notice right after the last block, unasked, and leave "
                 "the finish request unanswered");

    app.add_flag("--strict-writes", options.device.strictWrites,
                 "refuse a write block over flash that is not erased, even with the same bytes");

    bool dinTiming = false;
    app.add_flag("--din-timing", dinTiming,
                 "a 31,250-baud line and typical flash times (default: instant)");
    double scale = 1.0;
    app.add_option("--time-scale", scale, "multiplies every device time (above 0, at most 1000)")
        ->check(FiniteIn(0.0, false, kMaxTimeScale));
    std::vector<std::string> faults;
    app.add_option("--fault", faults, FaultOptionHelp())->check([](const std::string& text) {
        return ParseFaultOption(text) ? std::string() : "not a fault: " + text;
    });
    double faultProbability = 0.0;
    app.add_option("--random-faults", faultProbability,
                   "probability (0 to 1) of a random fault on each request")
        ->check(FiniteIn(0.0, true, 1.0));
    app.add_option("--seed", options.device.seed, "seed for random faults");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help is a success; every other stop is bad usage.
        exitCode = app.exit(error) == 0 ? 0 : kDevsimUsageError;
        return std::nullopt;
    }
    if ((options.api == DevsimApi::RawMidi) != !options.rawmidiDevice.empty()) {
        app.exit(CLI::ValidationError(
            "--device", "names the rawmidi device of --api rawmidi, and goes only with it"));
        exitCode = kDevsimUsageError;
        return std::nullopt;
    }
    ParseDeviceId(id, options.device.id);
    options.device.timing = dinTiming ? DeviceTiming::DinMidi() : DeviceTiming::Instant();
    options.device.timing.scale = scale;
    if (options.api == DevsimApi::UsbGadget && options.device.timing.lineBytesPerSecond != 0) {
        // The USB endpoint, read at the line's pace, is the line.
        options.usbLineBytesPerSecond = static_cast<std::uint32_t>(
            std::max(1.0, options.device.timing.lineBytesPerSecond / scale));
        options.device.timing.lineBytesPerSecond = 0;
    }
    for (const auto& text : faults) options.device.faults.push_back(*ParseFaultOption(text));
    options.device.randomFaults.probability = faultProbability;
    return options;
}

}  // namespace tq5::sim
