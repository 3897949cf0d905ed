#pragma once
// Every wait and pause of the procedures, in milliseconds. The defaults are the product's;
// tests pass shorter ones. Users never configure it.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace tq5::engine {

// A MIDI line: 31,250 bits a second, ten bits a byte (start, eight data bits, stop).
inline constexpr std::uint32_t kMidiLineBytesPerSecond = 3125;

// How long `bytes` take on a MIDI line: 4,700 bytes (a write block) need 1.5 s.
constexpr std::chrono::microseconds MidiLineTime(std::size_t bytes) {
    return std::chrono::microseconds(static_cast<std::int64_t>(bytes) * 1000000 /
                                     kMidiLineBytesPerSecond);
}

struct Timing {
    std::uint32_t replyWaitMs = 30000;      // identification, entering update mode, finishing
    std::uint32_t eraseReadWaitMs = 60000;  // an erase, a memory read
    std::uint32_t blockWaitMs = 1000;       // each write block
    std::uint32_t retryPauseMs = 100;       // before resending an erase or a block
    std::uint32_t enterPauseMs = 500;       // after the device entered its update mode
    // The shortest wait for a read of the read-back check once its size has been answered
    // (four times the slowest answer when that is longer; the first answer of a size may
    // take as long as any memory read): a 4,096-byte read comes back as a 4,700-byte reply,
    // about 1.5 s on a 31,250-baud line.
    std::uint32_t verifyReadWaitMs = 3000;
    // After the finish request's answer, the link is watched this long (at least; four times
    // the slowest block acknowledgement when that is longer, at most one block wait) for a
    // reply that came twice and shifted the answers by one.
    std::uint32_t settleMinMs = 20;
};

}  // namespace tq5::engine
