#pragma once
// tq5-devsim's command line: which MIDI system and port names, and how the virtual TQ-5
// starts (id, mode, installed firmware, timing).

#include <optional>
#include <string>

#include "midi/drivers/rtmidi/rtmidi_backend.hpp"
#include "sim/virtual_device.hpp"

namespace tq5::sim {

struct DevsimOptions {
    midi::RtMidiSystem system = midi::RtMidiSystem::Jack;
    std::string clientName = "tq5-devsim";
    std::string portName = "TQ-5";  // the ports are "<name> in" and "<name> out"
    std::string stateFile;          // rewritten at start, on SIGUSR1 and at exit
    DeviceOptions device;
};

// The largest --time-scale: the device's times become clock durations in nanoseconds, and
// a larger scale could overflow them for the longest --fault delay (2^32 ms).
inline constexpr double kMaxTimeScale = 1000.0;
inline constexpr int kDevsimUsageError = 2;

// Parses the command line. On --help or an error it prints what CLI11 prints and returns
// the exit code in `exitCode` (0 for --help, kDevsimUsageError otherwise) with no options.
std::optional<DevsimOptions> ParseDevsimOptions(int argc, char** argv, int& exitCode);

}  // namespace tq5::sim
