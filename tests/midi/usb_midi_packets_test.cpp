// USB MIDI event packets as the USB MIDI device of tq5-devsim and the USB contract test
// carry them: what a SysEx message becomes, and what packets give back.

#include "midi/drivers/usbgadget/usb_midi_packets.hpp"

#include <gtest/gtest.h>

#include "support/bytes.hpp"
#include "support/driver_contract.hpp"

namespace tq5::midi {
namespace {

using test::Bytes;
using test::Hex;

Bytes Encode(const Bytes& message) { return EncodeSysExPackets(message.data(), message.size()); }

Bytes Decode(const Bytes& packets) {
    Bytes bytes;
    DecodeUsbMidiPackets(packets.data(), packets.size(), bytes);
    return bytes;
}

TEST(UsbMidiPacketsTest, SysExGoesThreeBytesAPacketAndItsEndSaysHowManyAreLeft) {
    struct Row {
        const char* message;
        const char* packets;
    };
    for (const Row& row : {
             Row{"F0 F7", "06 F0 F7 00"},
             Row{"F0 01 F7", "07 F0 01 F7"},
             Row{"F0 01 02 F7", "04 F0 01 02 05 F7 00 00"},
             Row{"F0 01 02 03 F7", "04 F0 01 02 06 03 F7 00"},
             Row{"F0 01 02 03 04 F7", "04 F0 01 02 07 03 04 F7"},
         }) {
        SCOPED_TRACE(row.message);
        EXPECT_EQ(Encode(Hex(row.message)), Hex(row.packets));
    }
}

TEST(UsbMidiPacketsTest, PacketsGiveBackTheirBytesOnEveryCableAndNothingOfReservedOrCutOnes) {
    struct Row {
        const char* packets;
        const char* bytes;
    };
    for (const Row& row : {
             Row{"09 90 3C 64", "90 3C 64"},        // a note on: three bytes
             Row{"1C C0 05 00", "C0 05"},           // a program change, cable 1: two
             Row{"0F F8 00 00", "F8"},              // a single byte (real time)
             Row{"00 01 02 03 01 04 05 06", ""},    // reserved code indexes carry none
             Row{"04 F0 01 02 06 03", "F0 01 02"},  // a packet cut short is left out
         }) {
        SCOPED_TRACE(row.packets);
        EXPECT_EQ(Decode(Hex(row.packets)), Hex(row.bytes));
    }
    for (const std::size_t length : {2u, 3u, 4u, 5u, 6u, 4700u}) {
        const Bytes message = test::PatternSysEx(length, static_cast<std::uint8_t>(length));
        EXPECT_EQ(Decode(Encode(message)), message) << length;
    }
}

}  // namespace
}  // namespace tq5::midi
