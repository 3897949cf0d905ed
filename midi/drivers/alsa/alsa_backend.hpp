#pragma once
// MIDI on the ALSA sequencer, spoken to directly (see alsa_sequencer.hpp for why not through
// RtMidi). Each open port is a client of its own named after the program, with one port
// ("in" or "out") connected to the chosen device; the port lists name the devices as RtMidi
// does on ALSA ("client:port client-id:port-id").

#include <memory>
#include <string>

#include "midi/driver.hpp"

namespace tq5::midi {

class AlsaBackend final : public MidiBackend {
public:
    explicit AlsaBackend(std::string clientName = "tq5-updater");

    std::unique_ptr<InputDriver> CreateInput() override;
    std::unique_ptr<OutputDriver> CreateOutput() override;

    // The backend when the sequencer (/dev/snd/seq) can be opened, else null.
    static std::unique_ptr<AlsaBackend> Open(std::string clientName = "tq5-updater");

private:
    std::string clientName_;
};

}  // namespace tq5::midi
