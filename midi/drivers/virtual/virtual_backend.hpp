#pragma once
// The in-process MIDI backend: a list of virtual port pairs whose names the caller chooses
// (e.g. the names an instance prefers). Input device i and output device i are pair i.

#include <memory>
#include <string>

#include "midi/driver.hpp"
#include "midi/drivers/virtual/virtual_port_pair.hpp"

namespace tq5::midi {

namespace detail {
class VirtualPairList;
}

class VirtualMidiBackend final : public MidiBackend {
public:
    VirtualMidiBackend();
    ~VirtualMidiBackend() override;

    // Adds a pair at the end of both device lists; it lives as long as the backend or a
    // driver that uses it.
    VirtualPortPair& AddPair(std::string inputName, std::string outputName);
    // Null when there is no such pair.
    VirtualPortPair* Pair(std::size_t index);
    std::size_t PairCount() const;

    std::unique_ptr<InputDriver> CreateInput() override;
    std::unique_ptr<OutputDriver> CreateOutput() override;

private:
    // Drivers keep the list alive, so a driver may outlive the backend object.
    std::shared_ptr<detail::VirtualPairList> pairs_;
};

}  // namespace tq5::midi
