#pragma once
// Every wait and pause of the procedures, in milliseconds. The defaults are the product's;
// tests pass shorter ones. Users never configure it.

#include <cstdint>

namespace tq5::engine {

struct Timing {
    std::uint32_t replyWaitMs = 30000;     // identification, entering update mode, finishing
    std::uint32_t eraseReadWaitMs = 60000; // an erase, a memory read
    std::uint32_t blockWaitMs = 1000;      // each write block
    std::uint32_t retryPauseMs = 100;      // before resending an erase or a block
    std::uint32_t enterPauseMs = 500;      // after the device entered its update mode
};

}  // namespace tq5::engine
