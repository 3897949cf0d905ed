// MidiInPort over the virtual driver: what reaches the queue, in which blocks, and what the
// running flag and device index do across Open and Close.

#include "midi/midi_in_port.hpp"
#include "midi/midi_out_port.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "fake_drivers.hpp"
#include "midi/drivers/virtual/virtual_backend.hpp"
#include "support/bytes.hpp"
#include "wait_until.hpp"

namespace tq5::midi {
namespace {

using test::Bytes;
using test::Hex;
using test::WaitUntil;

Bytes Entry(MidiInPort& port) {
    std::size_t length = 0;
    const std::uint8_t* bytes = port.PeekReceived(&length);
    return bytes == nullptr ? Bytes{} : Bytes(bytes, bytes + length);
}

Bytes PopEntry(MidiInPort& port) {
    Bytes entry = Entry(port);
    port.PopReceived();
    return entry;
}

// A SysEx message of `length` bytes: F0, counting data bytes, F7.
Bytes LongSysEx(std::size_t length) {
    Bytes message(length);
    message.front() = 0xF0;
    for (std::size_t i = 1; i + 1 < length; ++i) message[i] = static_cast<std::uint8_t>(i % 0x80);
    message.back() = 0xF7;
    return message;
}

class MidiInPortTest : public ::testing::Test {
protected:
    MidiInPortTest() {
        first_ = &backend_.AddPair("TQ-5 In", "TQ-5 Out");
        second_ = &backend_.AddPair("USB Audio Device", "USB Audio Device");
    }

    void Send(VirtualPortPair* pair, const Bytes& message) {
        pair->SendToInput(message.data(), message.size());
    }

    bool WaitForEntries(std::size_t count) {
        return WaitUntil([&] { return port_.QueuedCount() >= count; });
    }

    VirtualMidiBackend backend_;
    VirtualPortPair* first_ = nullptr;
    VirtualPortPair* second_ = nullptr;
    MidiInPort port_{backend_.CreateInput()};
};

TEST_F(MidiInPortTest, ListsDevicesAndOpensTheChosenOne) {
    ASSERT_EQ(port_.GetDeviceCount(), 2u);
    EXPECT_EQ(port_.GetDeviceName(1), "USB Audio Device");
    EXPECT_EQ(port_.GetDeviceName(7), "");

    port_.SetDeviceIndex(1);
    ASSERT_EQ(port_.Open(), 1);
    EXPECT_TRUE(port_.IsRunning());
    EXPECT_TRUE(second_->InputIsOpen());
    EXPECT_FALSE(first_->InputIsOpen());

    Send(second_, Hex("F0 7E 00 06 02 52 6E 00 05 00 00 00 00 00 F7"));
    ASSERT_TRUE(WaitForEntries(1));
    EXPECT_EQ(Entry(port_), Hex("F0 7E 00 06 02 52 6E 00 05 00 00 00 00 00 F7"));
}

TEST_F(MidiInPortTest, OpenOnARunningPortKeepsItsDeviceEvenAfterTheIndexChanged) {
    port_.SetDeviceIndex(0);
    ASSERT_EQ(port_.Open(), 1);
    port_.SetDeviceIndex(1);
    EXPECT_EQ(port_.Open(), 1);
    EXPECT_EQ(second_->InputOpenCount(), 0u);
    EXPECT_EQ(first_->InputOpenCount(), 1u);

    Send(first_, Hex("F0 52 00 6E 00 00 F7"));
    ASSERT_TRUE(WaitForEntries(1));
}

TEST_F(MidiInPortTest, FailedOpenLeavesThePortStoppedWithItsIndex) {
    first_->SetRefuseInputOpen(true);
    port_.SetDeviceIndex(0);
    EXPECT_EQ(port_.Open(), 0);
    EXPECT_FALSE(port_.IsRunning());
    EXPECT_EQ(port_.DeviceIndex(), 0);

    // The list had no selection: -1 goes to the driver as it is, which has no such device.
    port_.SetDeviceIndex(-1);
    EXPECT_EQ(port_.Open(), 0);
    EXPECT_EQ(port_.DeviceIndex(), -1);

    port_.SetDeviceIndex(1);
    EXPECT_EQ(port_.Open(), 1);
}

TEST(MidiInPortIndex, MinusOneReachesTheDriverUnchanged) {
    std::vector<std::int32_t> opened;
    MidiInPort port(std::make_unique<test::RecordingInputDriver>(opened, "x"));
    port.SetDeviceIndex(-1);
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(opened, std::vector<std::int32_t>{-1});
}

TEST_F(MidiInPortTest, EntriesQueuedBeforeCloseAreDeliveredInOrderAfterItAndAfterReopening) {
    ASSERT_EQ(port_.Open(), 1);
    Send(first_, Hex("F0 52 00 6E 00 01 F7"));
    Send(first_, Hex("F0 52 00 6E 00 02 F7"));
    ASSERT_TRUE(WaitForEntries(2));

    port_.Close();
    port_.Close();  // not running: changes nothing, frees nothing
    EXPECT_FALSE(port_.IsRunning());
    EXPECT_FALSE(first_->InputIsOpen());
    EXPECT_EQ(port_.QueuedCount(), 2u);
    // Nothing is received while closed.
    Send(first_, Hex("F0 52 00 6E 00 09 F7"));

    ASSERT_EQ(port_.Open(), 1);
    Send(first_, Hex("F0 52 00 6E 00 03 F7"));
    ASSERT_TRUE(WaitForEntries(3));
    EXPECT_EQ(PopEntry(port_), Hex("F0 52 00 6E 00 01 F7"));
    EXPECT_EQ(PopEntry(port_), Hex("F0 52 00 6E 00 02 F7"));
    EXPECT_EQ(PopEntry(port_), Hex("F0 52 00 6E 00 03 F7"));
    EXPECT_EQ(port_.PeekReceived(), nullptr);
}

TEST_F(MidiInPortTest, PeekKeepsTheEntryAndPopOnAnEmptyQueueDoesNothing) {
    port_.PopReceived();
    EXPECT_EQ(port_.PeekReceived(), nullptr);
    std::size_t length = 99;
    EXPECT_EQ(port_.PeekReceived(&length), nullptr);
    EXPECT_EQ(length, 0u);

    ASSERT_EQ(port_.Open(), 1);
    Send(first_, Hex("F0 52 00 6E 02 F7"));
    ASSERT_TRUE(WaitForEntries(1));
    const std::uint8_t* once = port_.PeekReceived();
    EXPECT_EQ(port_.PeekReceived(), once);
    port_.PopReceived();
    EXPECT_EQ(port_.PeekReceived(), nullptr);
}

TEST_F(MidiInPortTest, AMessageOneByteLongerThanTheBufferArrivesAsTwoEntries) {
    ASSERT_EQ(port_.Open(), 1);
    const Bytes message = LongSysEx(kInputBlockSize + 1);
    Send(first_, message);
    ASSERT_TRUE(WaitForEntries(2));
    const Bytes head = PopEntry(port_);
    const Bytes tail = PopEntry(port_);
    ASSERT_EQ(head.size(), kInputBlockSize);
    EXPECT_EQ(head.front(), 0xF0);
    EXPECT_EQ(tail, Bytes{0xF7});
    EXPECT_NE(tail.front(), 0xF0);
}

TEST_F(MidiInPortTest, ALongMessageArrivesAsBlocksThatJoinToTheMessage) {
    ASSERT_EQ(port_.Open(), 1);
    const Bytes message = LongSysEx(20000);
    Send(first_, message);
    Send(first_, Hex("F0 52 00 6E 00 00 F7"));
    ASSERT_TRUE(WaitForEntries(4));
    Bytes joined;
    for (std::size_t expected : {kInputBlockSize, kInputBlockSize, std::size_t{20000 - 16384}}) {
        const Bytes block = PopEntry(port_);
        EXPECT_EQ(block.size(), expected);
        joined.insert(joined.end(), block.begin(), block.end());
    }
    EXPECT_EQ(joined, message);
    EXPECT_EQ(PopEntry(port_), Hex("F0 52 00 6E 00 00 F7"));
}

TEST_F(MidiInPortTest, ShortMessagesNeverReachTheQueue) {
    ASSERT_EQ(port_.Open(), 1);
    Send(first_, Hex("90 40 7F"));
    Send(first_, Hex("F0 52 00 6E 00 00 F7"));
    Send(first_, Hex("B0 07 64"));
    Send(first_, Hex("F8"));
    Send(first_, Hex("F0 52 00 6E 00 0B F7"));
    ASSERT_TRUE(WaitForEntries(2));
    // One more SysEx as a marker: whatever came before it has been handled.
    Send(first_, Hex("F0 7E 00 06 01 F7"));
    ASSERT_TRUE(WaitForEntries(3));
    EXPECT_EQ(PopEntry(port_), Hex("F0 52 00 6E 00 00 F7"));
    EXPECT_EQ(PopEntry(port_), Hex("F0 52 00 6E 00 0B F7"));
    EXPECT_EQ(PopEntry(port_), Hex("F0 7E 00 06 01 F7"));
    EXPECT_EQ(port_.QueuedCount(), 0u);
}

TEST_F(MidiInPortTest, ReceptionGoesOnAfterABufferReturnedWithAnError) {
    ASSERT_EQ(port_.Open(), 1);
    const Bytes broken = Hex("F0 52 00 6E 60");
    first_->SendErrorBlockToInput(broken.data(), broken.size());
    Send(first_, Hex("F0 52 00 6E 00 00 F7"));
    ASSERT_TRUE(WaitForEntries(1));
    EXPECT_EQ(PopEntry(port_), Hex("F0 52 00 6E 00 00 F7"));
    EXPECT_EQ(port_.QueuedCount(), 0u);
}

TEST_F(MidiInPortTest, TheArrivalHookSeesTheEntryAlreadyQueued) {
    std::atomic<std::size_t> seenByHook{0};
    port_.SetArrivalHook([&] { seenByHook = port_.QueuedCount(); });
    ASSERT_EQ(port_.Open(), 1);
    Send(first_, Hex("F0 52 00 6E 00 00 F7"));
    ASSERT_TRUE(WaitUntil([&] { return seenByHook.load() == 1; }));
    port_.SetArrivalHook(nullptr);
}

TEST_F(MidiInPortTest, DestroyingThePortClosesTheDeviceAndFreesQueuedEntries) {
    auto port = std::make_unique<MidiInPort>(backend_.CreateInput());
    ASSERT_EQ(port->Open(), 1);
    Send(first_, LongSysEx(3 * kInputBlockSize));
    ASSERT_TRUE(WaitUntil([&] { return port->QueuedCount() == 3; }));
    port.reset();  // the leak checker holds us to "frees all of them"
    EXPECT_FALSE(first_->InputIsOpen());
}

TEST(MidiDeviceNames, LongNamesAreCutToTheBoundAndAlwaysTerminatedOrGivenWhole) {
    VirtualMidiBackend backend;
    const std::string longName(60, 'N');
    backend.AddPair(longName, longName);
    MidiInPort in(backend.CreateInput());

    char buffer[260];
    std::memset(buffer, 'x', sizeof buffer);
    in.GetDeviceName(0, buffer);
    EXPECT_EQ(std::strlen(buffer), kDeviceNameSize - 1);
    EXPECT_EQ(buffer[kDeviceNameSize], 'x');  // nothing written past the bound
    EXPECT_EQ(in.GetDeviceName(0), std::string(kDeviceNameSize - 1, 'N'));
    // Lists without the dialog's bound take the whole name.
    EXPECT_EQ(in.GetFullDeviceName(0), longName);
    MidiOutPort out(backend.CreateOutput());
    EXPECT_EQ(out.GetDeviceName(0), std::string(kDeviceNameSize - 1, 'N'));
    EXPECT_EQ(out.GetFullDeviceName(0), longName);
    EXPECT_EQ(out.GetFullDeviceName(5), "");

    in.GetDeviceName(5, buffer);  // no such device
    EXPECT_STREQ(buffer, "");
}

}  // namespace
}  // namespace tq5::midi
