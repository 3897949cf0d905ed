#pragma once
// MIDI on Linux: the ALSA sequencer or JACK, chosen by the caller. Ports are listed by their
// systems' full names. ALSA goes through RtMidi both ways; on JACK, input goes through
// RtMidi and output through a client of our own (jack_client.hpp), which also lists the
// ports for both drivers. Failures end as failed operations (no MIDI system: no devices,
// opens fail), never as exceptions or text on stderr.

#include <memory>
#include <string>

#include "midi/driver.hpp"

namespace tq5::midi {

enum class RtMidiSystem { Alsa, Jack };

class JackClient;

class RtMidiBackend final : public MidiBackend {
public:
    // `clientName` names this program's clients on the MIDI system.
    explicit RtMidiBackend(RtMidiSystem system, std::string clientName = "tq5-updater");
    ~RtMidiBackend() override;

    std::unique_ptr<InputDriver> CreateInput() override;
    std::unique_ptr<OutputDriver> CreateOutput() override;

    // True when the MIDI system answers. On JACK this opens the client that the drivers
    // list through, so that asking costs no client of its own.
    [[nodiscard]] bool Reachable();
    // The same with a client made and dropped only for the question.
    [[nodiscard]] static bool IsReachable(RtMidiSystem system);

private:
    RtMidiSystem system_;
    std::string clientName_;
    std::shared_ptr<JackClient> jack_;  // JACK only: shared by the drivers made here
};

}  // namespace tq5::midi
