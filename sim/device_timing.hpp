#pragma once
// How long the virtual TQ-5 takes: the MIDI line each way, and its flash work. All times are
// multiplied by `scale`, so a test can run a realistic profile a thousand times faster.

#include <cstdint>

namespace tq5::sim {

struct DeviceTiming {
    std::uint32_t lineBytesPerSecond = 0;  // each way; 0 = unlimited
    std::uint32_t eraseMsPerSector = 0;    // per 4 KiB sector
    std::uint32_t writeMsPerBlock = 0;     // per write block
    double scale = 1.0;                    // applied to every device time and fault delay

    // No time at all: replies as soon as the device's thread gets to them.
    static constexpr DeviceTiming Instant() { return {}; }

    // A device on a 31,250-baud DIN cable (3,125 bytes per second: ten bits a byte) with a
    // typical NOR chip: about 40 ms to erase a sector, 12 ms to program 4 KiB.
    static constexpr DeviceTiming DinMidi() { return {3125, 40, 12, 1.0}; }
};

}  // namespace tq5::sim
