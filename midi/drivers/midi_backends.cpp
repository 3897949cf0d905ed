#include "midi/drivers/midi_backends.hpp"

#include <array>

#include "midi/drivers/alsa/alsa_backend.hpp"
#include "midi/drivers/alsa/alsa_own_ports.hpp"
#include "midi/drivers/jack/jack_backend.hpp"
#include "midi/drivers/jack/jack_own_ports.hpp"

namespace tq5::midi {
namespace {

template <typename Backend>
std::unique_ptr<MidiBackend> Open(std::string clientName) {
    return Backend::Open(std::move(clientName));
}

constexpr std::array kBackends{
    MidiBackendEntry{"alsa", "ALSA", "there is no ALSA sequencer (/dev/snd/seq)",
                     "no ALSA sequencer (/dev/snd/seq)", &Open<AlsaBackend>, &OpenAlsaOwnPorts},
    MidiBackendEntry{"jack", "JACK", "no JACK server is running", "no JACK server running",
                     &Open<JackBackend>, &OpenJackOwnPorts},
};

}  // namespace

std::span<const MidiBackendEntry> MidiBackends() { return kBackends; }

const MidiBackendEntry* FindMidiBackend(std::string_view option) {
    for (const MidiBackendEntry& entry : kBackends) {
        if (entry.option == option) return &entry;
    }
    return nullptr;
}

std::string JoinMidiBackends(std::string_view MidiBackendEntry::*field, std::string_view separator,
                             std::string_view lastSeparator) {
    std::string joined;
    for (std::size_t i = 0; i < kBackends.size(); ++i) {
        if (i > 0) joined += i + 1 == kBackends.size() ? lastSeparator : separator;
        joined += kBackends[i].*field;
    }
    return joined;
}

}  // namespace tq5::midi
