#pragma once
// What the ALSA backend's two drivers share: the sequencer's port list, read through a client
// of its own, and the card port that is reached through its rawmidi device instead.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "midi/drivers/alsa/alsa_sequencer.hpp"
#include "midi/drivers/rawmidi/rawmidi_device.hpp"

namespace tq5::midi {

// Lists with a client of its own, so that the lists stay readable while a port is open.
class AlsaPortList {
public:
    AlsaPortList(std::string clientName, AlsaPortDirection direction)
        : clientName_(std::move(clientName)), direction_(direction) {}

    std::vector<AlsaPortEntry> Ports() {
        std::lock_guard guard(lock_);
        if (!lister_) lister_ = AlsaSequencer::Open(clientName_);
        if (!lister_) return {};
        return lister_->ListPorts(direction_);
    }

    std::uint32_t Count() { return static_cast<std::uint32_t>(Ports().size()); }

    std::string Name(std::uint32_t index) {
        const auto ports = Ports();
        return index < ports.size() ? ports[index].name : std::string();
    }

    // The device as it is now, or false when there is no such device.
    bool Find(std::int32_t index, AlsaPortEntry& entry) {
        const auto ports = Ports();
        if (index < 0 || static_cast<std::size_t>(index) >= ports.size()) return false;
        entry = ports[static_cast<std::size_t>(index)];
        return true;
    }

private:
    const std::string clientName_;
    const AlsaPortDirection direction_;
    std::mutex lock_;
    std::unique_ptr<AlsaSequencer> lister_;
};

// A card's own port (a USB MIDI device's, say) is reached through its rawmidi device rather
// than the sequencer: see rawmidi_device.hpp for why. The port lists stay the sequencer's.
inline std::optional<std::string> CardDevice(const AlsaPortEntry& entry,
                                             RawMidiDirection direction) {
    const auto address =
        FindCardPortDevice(entry.card, entry.address.port, entry.portName, direction);
    if (!address) return std::nullopt;
    return address->Name();
}

}  // namespace tq5::midi
