#pragma once
// The memory-read exchange shared by ReadDeviceMemory and the plan runner's boot-version
// read, which tell its outcomes apart differently.

#include <cstdint>

#include "engine/procedures.hpp"

namespace tq5::engine {

enum class ReadOutcome { Read, TimedOut, Failed, Closing };

// Sends one ReadMemoryRequest and waits for its data; on Read, `out` holds four bytes.
// A reply that signals without delivering four bytes (a read reply of another kind) counts
// as Failed: the read buffer then holds an earlier read's bytes, not this one's.
ReadOutcome ExchangeRead(const Procedures& env, std::uint32_t address, std::uint32_t length,
                         std::uint8_t* out);

}  // namespace tq5::engine
