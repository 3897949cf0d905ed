#pragma once
// MIDI output on the ALSA sequencer: a client of its own named after the program, with one
// port connected to the chosen device; a card's own port through its rawmidi device.

#include <memory>
#include <string>

#include "midi/driver.hpp"

namespace tq5::midi {

std::unique_ptr<OutputDriver> CreateAlsaOutput(std::string clientName);

}  // namespace tq5::midi
