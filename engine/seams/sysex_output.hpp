#pragma once
// The one operation the engine needs of the MIDI output: a blocking send of one whole
// SysEx message. MidiOutPort provides it; tests use a recording one.

#include <cstdint>

namespace tq5::engine {

class SysExOutput {
public:
    virtual ~SysExOutput() = default;
    // Returns 1 once the driver has finished with the bytes, 0 on failure (port not open,
    // message refused, or the driver never finished).
    virtual int SendLong(const std::uint8_t* bytes, std::uint32_t length) = 0;
};

}  // namespace tq5::engine
