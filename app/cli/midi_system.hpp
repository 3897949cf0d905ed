#pragma once
// The MIDI system a command talks through: one of midi_backends.hpp (the ALSA sequencer, JACK),
// or the built-in virtual TQ-5 on in-process ports that carry this instance's preferred names.

#include <memory>
#include <string>
#include <string_view>

#include "app/cli/cli_options.hpp"
#include "midi/driver.hpp"

namespace tq5::app::cli {

struct MidiSystem {
    std::unique_ptr<midi::MidiBackend> backend;  // null when no MIDI system is there
    std::string name;                            // "ALSA", "JACK", "virtual TQ-5"
    std::string problem;                         // why there is none
};

// The system of the --api value `api` (midi_backends.hpp); with none, the first of the list
// that answers.
MidiSystem OpenMidiSystem(std::string_view api);

// One virtual cable pair, named after the instance's preferred port (or --device-port), with
// a virtual TQ-5 in the given mode and id at its far end.
MidiSystem OpenSimulation(const CliOptions& options, int instanceNumber);

}  // namespace tq5::app::cli
