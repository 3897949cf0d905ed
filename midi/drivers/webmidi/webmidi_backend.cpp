#include "midi/drivers/webmidi/webmidi_backend.hpp"

#include "midi/drivers/webmidi/webmidi_input.hpp"
#include "midi/drivers/webmidi/webmidi_output.hpp"

namespace tq5::midi {

std::unique_ptr<InputDriver> WebMidiBackend::CreateInput() {
    return std::make_unique<WebMidiInputDriver>();
}

std::unique_ptr<OutputDriver> WebMidiBackend::CreateOutput() {
    return std::make_unique<WebMidiOutputDriver>();
}

}  // namespace tq5::midi
