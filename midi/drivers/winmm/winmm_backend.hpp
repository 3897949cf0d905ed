#pragma once
// The Windows MIDI backend: WinMM input and output drivers for the two ports.

#include <memory>

#include "midi/driver.hpp"

namespace tq5::midi::winmm {

class WinMmBackend final : public MidiBackend {
public:
    std::unique_ptr<InputDriver> CreateInput() override;
    std::unique_ptr<OutputDriver> CreateOutput() override;
};

}  // namespace tq5::midi::winmm
