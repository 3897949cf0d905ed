#pragma once
// The status values the virtual TQ-5 answers with. The updater tells apart only 0 (success)
// and 11 (not in firmware update mode); the others are the device's own failure codes, kept
// distinct so that a transcript shows why a request failed.

#include <cstdint>

namespace tq5::sim {

inline constexpr std::uint8_t kStatusOk = 0;
inline constexpr std::uint8_t kStatusUnknownCommand = 1;  // a command the device doesn't know
inline constexpr std::uint8_t kStatusMalformed = 2;       // a known request in a wrong layout
inline constexpr std::uint8_t kStatusBadCrc = 3;          // write block: CRC over the data differs
inline constexpr std::uint8_t kStatusBadRange = 4;        // outside the flash, or not on a sector
inline constexpr std::uint8_t kStatusNotErased = 5;       // write block: a bit would go 0 -> 1
inline constexpr std::uint8_t kStatusNotWriting = 6;      // erase/write outside flash-writing mode
inline constexpr std::uint8_t kStatusNotInUpdateMode = 11;

}  // namespace tq5::sim
