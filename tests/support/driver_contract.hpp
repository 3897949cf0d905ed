#pragma once
// What every MIDI driver promises, checked through the ports the programs use: a 4,700-byte
// SysEx (a write block) leaves whole and one arrives whole, in order with short ones; Close
// on another thread ends a send that waits for the line; a device that is not there, a send
// on a port that is not open and a second Close fail at once and leave the ports usable.
//
// One typed test suite, instantiated once per driver (TQ5_DRIVER_CONTRACT(Name, Link)) with a
// Link: the driver's backend and whatever plays the far end of its cable. A Link has
//   static std::string SkipReason();            empty when the driver can run here
//   midi::MidiBackend& Backend();
//   std::int32_t OutputIndex(), InputIndex();   the far end's devices in the two lists
//   std::vector<test::Bytes> FarEndReceived();  every message the far end has received
//   void FarEndSend(const test::Bytes&);        the far end sends one message
//   void HoldSends(), ReleaseSends();           the line stops taking bytes / moves again
//   void CheckHeldSendLeftNothing(std::size_t sent);  the driver's own checks once a held
//                                               send has ended (`sent` messages went before)
// and checks what its driver alone promises besides.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "midi/midi_in_port.hpp"
#include "midi/midi_out_port.hpp"
#include "midi/wait_until.hpp"
#include "support/bytes.hpp"

namespace tq5::test {

// A device index that no list reaches.
inline constexpr std::int32_t kNoSuchDevice = 1000;

// A SysEx message of `length` bytes: F0, data bytes counting from `seed`, F7.
inline Bytes PatternSysEx(std::size_t length, std::uint8_t seed) {
    Bytes message(length);
    for (std::size_t i = 0; i < length; ++i) {
        message[i] = static_cast<std::uint8_t>((i * 37 + seed) & 0x7F);
    }
    message.front() = 0xF0;
    message.back() = 0xF7;
    return message;
}

inline int SendThrough(midi::MidiOutPort& port, const Bytes& message) {
    return port.SendLong(message.data(), static_cast<std::uint32_t>(message.size()));
}

// Takes every entry the input port holds, oldest first.
inline std::vector<Bytes> TakeReceived(midi::MidiInPort& port) {
    std::vector<Bytes> entries;
    std::size_t length = 0;
    while (const std::uint8_t* bytes = port.PeekReceived(&length)) {
        entries.emplace_back(bytes, bytes + length);
        port.PopReceived();
    }
    return entries;
}

template <typename Link>
class DriverContract : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string skip = Link::SkipReason();
        if (!skip.empty()) GTEST_SKIP() << skip;
        link_ = std::make_unique<Link>();
        out_ = std::make_unique<midi::MidiOutPort>(link_->Backend().CreateOutput());
        in_ = std::make_unique<midi::MidiInPort>(link_->Backend().CreateInput());
    }

    void TearDown() override {
        in_.reset();
        out_.reset();
        link_.reset();
    }

    const Bytes request_ = Hex("F0 7E 00 06 01 F7");
    std::unique_ptr<Link> link_;
    std::unique_ptr<midi::MidiOutPort> out_;
    std::unique_ptr<midi::MidiInPort> in_;
};

TYPED_TEST_SUITE_P(DriverContract);

TYPED_TEST_P(DriverContract, AWriteBlockSizedSysExLeavesWholeAndOneArrivesWhole) {
    auto& link = *this->link_;
    auto& out = *this->out_;
    auto& in = *this->in_;
    ASSERT_EQ(out.Open(link.OutputIndex()), 1);
    in.SetDeviceIndex(link.InputIndex());
    ASSERT_EQ(in.Open(), 1);

    const Bytes block = PatternSysEx(4700, 11);
    ASSERT_EQ(SendThrough(out, block), 1);
    ASSERT_EQ(SendThrough(out, this->request_), 1);
    EXPECT_TRUE(WaitUntil([&] { return link.FarEndReceived().size() >= 2; }));
    EXPECT_EQ(link.FarEndReceived(), (std::vector<Bytes>{block, this->request_}));

    const Bytes reply = PatternSysEx(4700, 5);
    link.FarEndSend(reply);
    link.FarEndSend(this->request_);
    EXPECT_TRUE(WaitUntil([&] { return in.QueuedCount() >= 2; }));
    EXPECT_EQ(TakeReceived(in), (std::vector<Bytes>{reply, this->request_}));
}

TYPED_TEST_P(DriverContract, CloseOnAnotherThreadEndsASendThatWaitsForTheLine) {
    using namespace std::chrono_literals;
    auto& link = *this->link_;
    auto& out = *this->out_;
    ASSERT_EQ(out.Open(link.OutputIndex()), 1);
    const Bytes block = PatternSysEx(4700, 3);
    ASSERT_EQ(SendThrough(out, block), 1);

    link.HoldSends();
    // The caller frees its bytes once the send has returned: a driver that reads them later
    // is caught by the address sanitizer.
    auto sending = std::async(std::launch::async, [&] {
        auto bytes = std::make_unique<Bytes>(block);
        return SendThrough(out, *bytes);
    });
    const bool waited = sending.wait_for(300ms) == std::future_status::timeout;
    // Close on a thread of its own: on a real server it may itself wait for the line.
    const auto closing = std::chrono::steady_clock::now();
    int closed = -1;
    std::thread closer([&] { closed = out.Close(); });
    const bool ended = sending.wait_for(kHangBound) == std::future_status::ready;
    const double endedMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - closing)
            .count();
    link.ReleaseSends();  // a send or Close still waiting finishes now instead of hanging
    closer.join();
    EXPECT_TRUE(waited) << "the send did not wait for the held line";
    EXPECT_EQ(closed, 1);
    ASSERT_TRUE(ended) << "Close did not end the waiting send";
    EXPECT_EQ(sending.get(), 0);
    std::printf("[ figure   ] a held send ended %.1f ms after Close\n", endedMs);
    link.CheckHeldSendLeftNothing(1);

    // The port opens again and sends.
    ASSERT_EQ(out.Open(link.OutputIndex()), 1);
    EXPECT_EQ(SendThrough(out, this->request_), 1);
}

TYPED_TEST_P(DriverContract, ErrorsFailAtOnceAndLeaveThePortsUsable) {
    using namespace std::chrono_literals;
    auto& link = *this->link_;
    auto& out = *this->out_;
    auto& in = *this->in_;
    EXPECT_EQ(SendThrough(out, this->request_), 0) << "a send on a port never opened";
    EXPECT_EQ(out.Close(), 0);
    EXPECT_EQ(out.Open(kNoSuchDevice), 0);
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(SendThrough(out, this->request_), 0) << "a send after a refused open";
    in.SetDeviceIndex(kNoSuchDevice);
    EXPECT_EQ(in.Open(), 0);
    EXPECT_FALSE(in.IsRunning());

    ASSERT_EQ(out.Open(link.OutputIndex()), 1);
    EXPECT_EQ(out.Close(), 1);
    EXPECT_EQ(out.Close(), 0);
    EXPECT_EQ(SendThrough(out, this->request_), 0) << "a send on a closed port";
    EXPECT_TRUE(link.FarEndReceived().empty());

    in.SetDeviceIndex(link.InputIndex());
    ASSERT_EQ(in.Open(), 1);
    in.Close();
    in.Close();
    EXPECT_FALSE(in.IsRunning());
    link.FarEndSend(this->request_);
    std::this_thread::sleep_for(100ms);  // what a running input would have received by now
    EXPECT_EQ(in.QueuedCount(), 0u) << "a closed input received";

    ASSERT_EQ(out.Open(link.OutputIndex()), 1);
    EXPECT_EQ(SendThrough(out, this->request_), 1);
    EXPECT_TRUE(WaitUntil([&] { return link.FarEndReceived().size() == 1; }));
    ASSERT_EQ(in.Open(), 1);
    link.FarEndSend(this->request_);
    EXPECT_TRUE(WaitUntil([&] { return in.QueuedCount() == 1; }));
}

REGISTER_TYPED_TEST_SUITE_P(DriverContract, AWriteBlockSizedSysExLeavesWholeAndOneArrivesWhole,
                            CloseOnAnotherThreadEndsASendThatWaitsForTheLine,
                            ErrorsFailAtOnceAndLeaveThePortsUsable);

}  // namespace tq5::test

// Runs the contract on one driver: TQ5_DRIVER_CONTRACT(Virtual, VirtualLink).
#define TQ5_DRIVER_CONTRACT(Name, Link) \
    INSTANTIATE_TYPED_TEST_SUITE_P(Name, DriverContract, ::testing::Types<Link>)
