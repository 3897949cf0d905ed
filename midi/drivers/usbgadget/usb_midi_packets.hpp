#pragma once
// USB MIDI 1.0 event packets, the way a USB MIDI device carries MIDI bytes on its bulk
// endpoints: four bytes each, a cable number and code index, then up to three MIDI bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tq5::midi {

inline constexpr std::size_t kUsbMidiPacketSize = 4;

// One SysEx message (F0 ... F7) as the packets of cable 0: three bytes a packet ("SysEx
// starts or continues"), the last one with one, two or three bytes ("SysEx ends with ...").
std::vector<std::uint8_t> EncodeSysExPackets(const std::uint8_t* bytes, std::size_t length);

// Appends the MIDI bytes that whole packets carry, in order, to `out` (every cable; packets of
// reserved code indexes carry none). A trailing part of a packet is ignored.
void DecodeUsbMidiPackets(const std::uint8_t* packets, std::size_t length,
                          std::vector<std::uint8_t>& out);

}  // namespace tq5::midi
