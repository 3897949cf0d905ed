#pragma once
// How a driver hands one received message to the input port: System Exclusive only (short
// messages are dropped), cut into blocks of at most kInputBlockSize bytes the way a platform
// with one receive buffer returns a long message: the first block begins with 0xF0, the
// later ones with data bytes.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "midi/driver.hpp"

namespace tq5::midi {

inline constexpr std::uint8_t kSysExStatus = 0xF0;

inline void DeliverSysExBlocks(const std::uint8_t* bytes, std::size_t length,
                               const SysExBlockHandler& handler) {
    if (bytes == nullptr || length == 0 || bytes[0] != kSysExStatus || !handler) return;
    for (std::size_t offset = 0; offset < length; offset += kInputBlockSize) {
        handler(bytes + offset, std::min(kInputBlockSize, length - offset));
    }
}

}  // namespace tq5::midi
