// MidiOutPort: open and close rules, the blocking send with its bound, destruction ending a
// waiting send, and serialised sends from two threads. (A whole 4,700-byte send and Close
// ending a waiting one: the driver contract, driver_contract_virtual_test.cpp.)

#include "midi/midi_out_port.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "fake_drivers.hpp"
#include "midi/drivers/virtual/virtual_backend.hpp"
#include "support/bytes.hpp"
#include "wait_until.hpp"

namespace tq5::midi {
namespace {

using test::Bytes;
using test::Hex;
using Clock = std::chrono::steady_clock;

int Send(MidiOutPort& port, const Bytes& message) {
    return port.SendLong(message.data(), static_cast<std::uint32_t>(message.size()));
}

class MidiOutPortTest : public ::testing::Test {
protected:
    MidiOutPortTest() {
        first_ = &backend_.AddPair("TQ-5 In", "TQ-5 Out");
        second_ = &backend_.AddPair("USB Audio Device", "USB Audio Device");
    }

    VirtualMidiBackend backend_;
    VirtualPortPair* first_ = nullptr;
    VirtualPortPair* second_ = nullptr;
};

TEST_F(MidiOutPortTest, OpenWithTheOpenIndexKeepsTheDeviceOpen) {
    MidiOutPort port(backend_.CreateOutput());
    EXPECT_EQ(port.DeviceIndex(), 0);
    ASSERT_EQ(port.Open(0), 1);
    EXPECT_EQ(port.Open(0), 1);
    EXPECT_EQ(first_->OutputOpenCount(), 1u);
    EXPECT_TRUE(first_->OutputIsOpen());
}

TEST_F(MidiOutPortTest, OpenWithAnotherIndexClosesFirstAndKeepsTheNewIndexWhenItFails) {
    MidiOutPort port(backend_.CreateOutput());
    ASSERT_EQ(port.Open(0), 1);
    second_->SetRefuseOutputOpen(true);
    EXPECT_EQ(port.Open(1), 0);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.DeviceIndex(), 1);
    EXPECT_FALSE(first_->OutputIsOpen());
    EXPECT_EQ(Send(port, Hex("F0 7E 00 06 01 F7")), 0);

    second_->SetRefuseOutputOpen(false);
    ASSERT_EQ(port.Open(1), 1);
    EXPECT_TRUE(second_->OutputIsOpen());
}

TEST_F(MidiOutPortTest, CloseTwiceReturnsOneThenZero) {
    MidiOutPort port(backend_.CreateOutput());
    EXPECT_EQ(port.Close(), 0);
    ASSERT_EQ(port.Open(0), 1);
    EXPECT_EQ(port.Close(), 1);
    EXPECT_EQ(port.Close(), 0);
    EXPECT_FALSE(first_->OutputIsOpen());
}

TEST(MidiOutPortCalls, SendWithoutAnOpenDeviceMakesNoDriverCall) {
    test::OutputCalls calls;
    MidiOutPort port(std::make_unique<test::RecordingOutputDriver>(calls));
    const Bytes message = Hex("F0 7E 00 06 01 F7");
    EXPECT_EQ(Send(port, message), 0);
    ASSERT_EQ(port.Open(3), 1);
    port.Close();
    EXPECT_EQ(Send(port, message), 0);
    EXPECT_EQ(calls.sends.load(), 0);
}

TEST(MidiOutPortCalls, MinusOneReachesTheDriverUnchanged) {
    test::OutputCalls calls;
    MidiOutPort port(std::make_unique<test::RecordingOutputDriver>(calls, false));
    EXPECT_EQ(port.Open(-1), 0);
    EXPECT_EQ(calls.lastOpenIndex.load(), -1);
    EXPECT_EQ(port.DeviceIndex(), -1);
    EXPECT_EQ(port.Close(), 0);
    EXPECT_EQ(calls.closes.load(), 0);
}

TEST(MidiOutPortCalls, SendsFromTwoThreadsNeverOverlapInTheDriver) {
    test::OutputCalls calls;
    MidiOutPort port(
        std::make_unique<test::RecordingOutputDriver>(calls, true, std::chrono::microseconds(200)));
    ASSERT_EQ(port.Open(0), 1);
    const Bytes message = Hex("F0 52 00 6E 00 00 F7");
    auto sendMany = [&] {
        for (int i = 0; i < 50; ++i) EXPECT_EQ(Send(port, message), 1);
    };
    std::thread worker(sendMany);
    sendMany();
    worker.join();
    EXPECT_EQ(calls.sends.load(), 100);
    EXPECT_EQ(calls.maxInFlight.load(), 1);
}

TEST_F(MidiOutPortTest, ARefusedMessageFailsTheSend) {
    MidiOutPort port(backend_.CreateOutput());
    ASSERT_EQ(port.Open(0), 1);
    first_->SetFailSends(true);
    EXPECT_EQ(Send(port, Hex("F0 7E 00 06 01 F7")), 0);
    first_->SetFailSends(false);
    EXPECT_EQ(Send(port, Hex("F0 7E 00 06 01 F7")), 1);
}

TEST_F(MidiOutPortTest, ASlowLineWithinTheBoundStillSends) {
    MidiOutPort port(backend_.CreateOutput(), 5000);
    ASSERT_EQ(port.Open(0), 1);
    first_->SetSendDelayMs(20);
    const auto start = Clock::now();
    EXPECT_EQ(Send(port, Hex("F0 7E 00 06 01 F7")), 1);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(20));
    EXPECT_EQ(first_->SentMessages().size(), 1u);
}

TEST_F(MidiOutPortTest, ASendTheDriverNeverFinishesGivesUpAfterTheBound) {
    MidiOutPort port(backend_.CreateOutput(), 50);
    ASSERT_EQ(port.Open(0), 1);
    first_->SetHoldSends(true);
    const auto start = Clock::now();
    EXPECT_EQ(Send(port, Hex("F0 7E 00 06 01 F7")), 0);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(50));
    EXPECT_LT(waited, test::kHangBound);
    EXPECT_TRUE(first_->SentMessages().empty());

    // The port stays usable once the line moves again.
    first_->SetHoldSends(false);
    EXPECT_EQ(Send(port, Hex("F0 7E 00 06 01 F7")), 1);
}

TEST_F(MidiOutPortTest, DestroyingThePortEndsAWaitingSend) {
    auto port = std::make_unique<MidiOutPort>(backend_.CreateOutput());
    ASSERT_EQ(port->Open(0), 1);
    first_->SetHoldSends(true);
    auto waiting =
        std::async(std::launch::async, [&] { return Send(*port, Hex("F0 7E 00 06 01 F7")); });
    ASSERT_TRUE(test::WaitUntil([&] { return first_->SendsWaiting() == 1; }));
    port.reset();
    ASSERT_EQ(waiting.wait_for(test::kHangBound), std::future_status::ready);
    EXPECT_EQ(waiting.get(), 0);
}

}  // namespace
}  // namespace tq5::midi
