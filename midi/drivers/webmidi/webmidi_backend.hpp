#pragma once
// The Web MIDI backend: the ports the page's MIDIAccess lists (webmidi_library.js). The page
// asks for access with System Exclusive messages before the dialog starts and hands it to
// the module as Module.midiAccess; without it both lists are empty.

#include <memory>

#include "midi/driver.hpp"

namespace tq5::midi {

class WebMidiBackend final : public MidiBackend {
public:
    std::unique_ptr<InputDriver> CreateInput() override;
    std::unique_ptr<OutputDriver> CreateOutput() override;
};

}  // namespace tq5::midi
