#pragma once
// tq5-devsim's command line: which MIDI system and port names, and how the virtual TQ-5
// starts (id, mode, installed firmware, timing).

#include <optional>
#include <string>

#include "sim/virtual_device.hpp"

namespace tq5::sim {

// Where the device serves: its own ports on JACK or the ALSA sequencer, the device side of a
// MIDI cable that a rawmidi device ends in (a USB MIDI gadget's, say), or a USB MIDI device of
// its own made through gadgetfs.
enum class DevsimApi { Jack, Alsa, RawMidi, UsbGadget };

struct DevsimOptions {
    DevsimApi api = DevsimApi::Jack;
    std::string clientName = "tq5-devsim";
    std::string portName = "TQ-5";         // the ports are "<name> in" and "<name> out"
    std::string rawmidiDevice;             // --api rawmidi: the device, e.g. "hw:0,0"
    std::string gadgetfs = "/dev/gadget";  // --api usb-gadget: where gadgetfs is mounted
    // --api usb-gadget: the pace at which the device reads its USB endpoint and writes
    // replies to it (the device's own line then takes no time); 0 for USB speed.
    std::uint32_t usbLineBytesPerSecond = 0;
    std::string stateFile;  // rewritten at start, on SIGUSR1 and at exit
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
