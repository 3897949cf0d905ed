#include "midi/drivers/usbgadget/usb_midi_packets.hpp"

#include <algorithm>
#include <array>

namespace tq5::midi {
namespace {

constexpr std::uint8_t kSysExContinues = 0x4;
constexpr std::uint8_t kSysExEndsWithOne = 0x5;  // 0x6 and 0x7: with two and three

// MIDI bytes per packet by code index (0x0 and 0x1 are reserved).
constexpr std::array<std::size_t, 16> kBytesPerCode{0, 0, 2, 3, 3, 1, 2, 3, 3, 3, 3, 3, 2, 2, 3, 1};

}  // namespace

std::vector<std::uint8_t> EncodeSysExPackets(const std::uint8_t* bytes, std::size_t length) {
    std::vector<std::uint8_t> packets;
    packets.reserve((length + 2) / 3 * kUsbMidiPacketSize);
    for (std::size_t at = 0; at < length; at += 3) {
        const std::size_t count = std::min<std::size_t>(3, length - at);
        const bool last = at + count == length;
        packets.push_back(last ? static_cast<std::uint8_t>(kSysExEndsWithOne + count - 1)
                               : kSysExContinues);
        for (std::size_t i = 0; i < 3; ++i) packets.push_back(i < count ? bytes[at + i] : 0);
    }
    return packets;
}

void DecodeUsbMidiPackets(const std::uint8_t* packets, std::size_t length,
                          std::vector<std::uint8_t>& out) {
    for (std::size_t at = 0; at + kUsbMidiPacketSize <= length; at += kUsbMidiPacketSize) {
        const std::size_t count = kBytesPerCode[packets[at] & 0x0F];
        out.insert(out.end(), packets + at + 1, packets + at + 1 + count);
    }
}

}  // namespace tq5::midi
