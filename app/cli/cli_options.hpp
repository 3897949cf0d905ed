#pragma once
// The command line of tq5-updater: one command (ports, update, version) and its options.

#include <optional>
#include <string>
#include <vector>

#include "protocol/messages.hpp"
#include "sim/virtual_device.hpp"

namespace tq5::app::cli {

enum class Command { Ports, Update, Version };

struct CliOptions {
    Command command = Command::Ports;
    std::string inPort;  // index or name; empty = this instance's preferred port
    std::string outPort;
    std::string api;  // a MIDI system's --api value (midi_backends.hpp); empty = the first found
    bool simulate = false;
    // Read the written flash back and compare it with the images before finishing.
    bool verify = true;
    sim::DeviceMode deviceMode = sim::DeviceMode::UpdateReady;
    protocol::DeviceId deviceId{0x6E, 0x00, 0x05, 0x00};
    // The virtual TQ-5's port name; empty = this instance's preferred name.
    std::string devicePort;
    // Faults the virtual TQ-5 commits on purpose (tq5-devsim's --fault).
    std::vector<sim::Fault> deviceFaults;
    // Write a support report of the run here (any run); empty = only after a failed update,
    // to a new file in the report folder.
    std::string reportPath;
    // One JSON object per line on stdout; what a person reads goes to stderr.
    bool json = false;
};

// What parsing decided: run with the options, or stop at once with `exitCode` after
// printing `output` (help text to stdout; a usage error and the usage line to stderr).
struct ParseResult {
    std::optional<CliOptions> options;
    int exitCode = 0;
    std::string output;
    bool toStderr = false;
};

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

// "Usage: tq5-updater [--simulate ...] [--api alsa|jack] ...", five lines.
std::string UsageLine();

ParseResult ParseCommandLine(int argc, const char* const* argv);

// True when the arguments ask for --json, whether or not they parse: a usage error then ends
// with a JSON outcome too.
bool AsksForJson(int argc, const char* const* argv);

// "6E000600" -> 6E 00 06 00: eight hex digits, every byte a MIDI data byte (below 0x80).
std::optional<protocol::DeviceId> ParseDeviceId(const std::string& text);

}  // namespace tq5::app::cli
