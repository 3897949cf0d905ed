// The virtual TQ-5's timing: line rate, flash work and the scale factor. Only lower bounds
// are asserted (the device may be late on a busy machine, never early); the upper bounds are
// generous and catch a hang, not a speed.

#include <gtest/gtest.h>

#include "device_harness.hpp"

namespace tq5::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

sim::DeviceOptions Timed(sim::DeviceTiming timing) {
    sim::DeviceOptions options;
    options.mode = sim::DeviceMode::FlashWriting;
    options.timing = timing;
    return options;
}

Clock::duration TimeToReplies(DeviceHarness& h, const Bytes& request, std::size_t replies = 1) {
    const Clock::time_point sent = Clock::now();
    h.device.Receive(request.data(), request.size());
    EXPECT_EQ(h.replies.WaitFor(replies).size(), replies);
    const Clock::duration took = Clock::now() - sent;
    h.replies.Take();
    return took;
}

TEST(DeviceTiming, LineRateDelaysArrivalOfTheRequestAndOfTheReply) {
    // 1,000 bytes per second: a 4,700-byte block needs 4.7 s on the line, its 7-byte reply
    // 7 ms; at scale 0.05 that is 235 ms + 0.35 ms.
    DeviceHarness h(Timed({1000, 0, 0, 0.05}));
    const Bytes block = WriteBlock(0x1000, Bytes(4096, 0xFF));
    ASSERT_EQ(block.size(), 4700u);
    const Clock::time_point sent = Clock::now();
    const Clock::time_point arrival = h.device.ReceiveOverLine(block.data(), block.size());
    EXPECT_GE(arrival - sent, 235ms);
    EXPECT_LT(arrival - sent, 2s);
    ASSERT_EQ(h.replies.WaitFor(1).size(), 1u);
    EXPECT_GE(Clock::now(), arrival + 350us);
}

TEST(DeviceTiming, MessagesQueueBehindEachOtherOnTheLine) {
    DeviceHarness h(Timed({1000, 0, 0, 0.01}));
    const Bytes request = ReadMemory(0, 4);  // 17 bytes: 170 us each at this scale
    Clock::time_point last{};
    for (int i = 0; i < 10; ++i) last = h.device.ReceiveOverLine(request.data(), request.size());
    const Clock::time_point first = h.device.ReceiveOverLine(request.data(), request.size());
    EXPECT_GE(first - last, 170us);
    EXPECT_EQ(h.replies.WaitFor(11).size(), 11u);
}

TEST(DeviceTiming, EraseTakesItsTimePerSector) {
    // 100 sectors at 10 ms, scaled by 0.2: at least 200 ms.
    DeviceHarness h(Timed({0, 10, 0, 0.2}));
    EXPECT_GE(TimeToReplies(h, Erase(0x100000, 100 * 4096)), 200ms);
    // A refused erase does no flash work.
    EXPECT_LT(TimeToReplies(h, Erase(0x100001, 100 * 4096)), 5s);
}

TEST(DeviceTiming, WriteTakesItsTimePerBlockAndTheNextRequestWaits) {
    DeviceHarness h(Timed({0, 0, 100, 1.0}));
    ASSERT_EQ(h.StatusOf(Erase(0x1000, 0x1000)), 0);
    const Bytes block = WriteBlock(0x1000, Bytes(16, 0x00));
    const Bytes read = ReadMemory(0x1000, 4);
    const Clock::time_point sent = Clock::now();
    h.device.Receive(block.data(), block.size());
    h.device.Receive(read.data(), read.size());
    EXPECT_EQ(h.replies.WaitFor(2).size(), 2u);
    EXPECT_GE(Clock::now() - sent, 100ms);
}

TEST(DeviceTiming, ScaleZeroRunsADinProfileAtOnce) {
    sim::DeviceTiming din = sim::DeviceTiming::DinMidi();
    EXPECT_EQ(din.lineBytesPerSecond, 3125u);
    din.scale = 0.0;
    DeviceHarness h(Timed(din));
    const Clock::time_point sent = Clock::now();
    EXPECT_EQ(h.StatusOf(Erase(0, 0x400000)), 0);  // 1,024 sectors: 41 s unscaled
    EXPECT_LT(Clock::now() - sent, 10s);
}

TEST(DeviceTiming, SetTimingAppliesToLaterMessages) {
    DeviceHarness h(Timed({}));
    h.device.SetTiming({0, 10, 0, 1.0});
    EXPECT_GE(TimeToReplies(h, Erase(0x100000, 5 * 4096)), 50ms);
}

}  // namespace
}  // namespace tq5::test
