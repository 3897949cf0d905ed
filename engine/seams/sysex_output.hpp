#pragma once
// The one operation the engine needs of the MIDI output: a blocking send of one whole
// SysEx message. MidiOutPort provides it; tests use a recording one.

#include <cstdint>

namespace tq5::engine {

class SysExOutput {
public:
    virtual ~SysExOutput() = default;
    // True once the driver has finished with the bytes; false on failure (port not open,
    // message refused, or the driver never finished).
    [[nodiscard]] virtual bool SendLong(const std::uint8_t* bytes, std::uint32_t length) = 0;
    // True when SendLong returns before the bytes have left the computer: the time they then
    // still need on the line is added to the wait for the answer. An output that hands the
    // message straight to its receiver (tests, in-process devices) has no line to add.
    virtual bool SendReturnsBeforeLineTime() const { return false; }
};

}  // namespace tq5::engine
