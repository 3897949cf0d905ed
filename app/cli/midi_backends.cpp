#include "app/cli/midi_backends.hpp"

#include <array>

#include "midi/drivers/alsa/alsa_backend.hpp"
#include "midi/drivers/rtmidi/rtmidi_backend.hpp"

namespace tq5::app::cli {
namespace {

// ALSA through the sequencer driver of our own (its receiving clients take the largest
// messages).
std::unique_ptr<midi::MidiBackend> OpenAlsa() {
    if (!midi::AlsaBackend::IsReachable()) return nullptr;
    return std::make_unique<midi::AlsaBackend>();
}

// JACK through the backend's own client, which answers the question and stays to list the
// ports.
std::unique_ptr<midi::MidiBackend> OpenJack() {
    auto backend = std::make_unique<midi::RtMidiBackend>(midi::RtMidiSystem::Jack);
    if (!backend->Reachable()) return nullptr;
    return backend;
}

constexpr std::array kBackends{
    MidiBackendEntry{"alsa", "ALSA", "there is no ALSA sequencer (/dev/snd/seq)",
                     "no ALSA sequencer (/dev/snd/seq)", &OpenAlsa},
    MidiBackendEntry{"jack", "JACK", "no JACK server is running", "no JACK server running",
                     &OpenJack},
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

}  // namespace tq5::app::cli
