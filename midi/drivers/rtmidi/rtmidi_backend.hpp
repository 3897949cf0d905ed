#pragma once
// MIDI through RtMidi on Linux: the ALSA sequencer or JACK, chosen by the caller. Ports are
// listed by their system names. RtMidi reports failures by exceptions or through its error
// callback; both end here as failed operations (no MIDI system: no devices, opens fail).

#include <memory>
#include <string>

#include "midi/driver.hpp"

namespace tq5::midi {

enum class RtMidiSystem { Alsa, Jack };

class RtMidiBackend final : public MidiBackend {
public:
    // `clientName` names this program's client on the MIDI system.
    explicit RtMidiBackend(RtMidiSystem system, std::string clientName = "tq5-updater");

    std::unique_ptr<InputDriver> CreateInput() override;
    std::unique_ptr<OutputDriver> CreateOutput() override;

    // True when the MIDI system answers (the JACK server runs, the ALSA sequencer exists).
    static bool IsReachable(RtMidiSystem system);

private:
    RtMidiSystem system_;
    std::string clientName_;
};

}  // namespace tq5::midi
