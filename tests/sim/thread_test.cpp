// The virtual TQ-5's thread: replies only through the sink, never after the sink is replaced
// or the device destroyed; safe against callers on many threads (run under TSan).

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "device_harness.hpp"

namespace tq5::test {
namespace {

using namespace std::chrono_literals;

TEST(DeviceThread, RepliesComeFromTheDevicesOwnThread) {
    DeviceHarness h;
    std::thread::id sinkThread;
    h.device.SetReplySink(
        [&](const std::uint8_t*, std::size_t) { sinkThread = std::this_thread::get_id(); });
    const Bytes request = IdentityRequest();
    h.device.Receive(request.data(), request.size());
    h.device.WaitIdle();
    EXPECT_NE(sinkThread, std::thread::id{});
    EXPECT_NE(sinkThread, std::this_thread::get_id());
}

TEST(DeviceThread, ManyCallersEachGetTheirAnswers) {
    DeviceHarness h;
    constexpr int kThreads = 4;
    constexpr int kEach = 200;
    std::vector<std::thread> callers;
    for (int t = 0; t < kThreads; ++t) {
        callers.emplace_back([&h, t] {
            for (int i = 0; i < kEach; ++i) {
                const Bytes request = ReadMemory(static_cast<std::uint32_t>(t * 4096 + i), 4);
                h.device.Receive(request.data(), request.size());
                if (i % 50 == 0) (void)h.device.Mode();
            }
        });
    }
    for (std::thread& c : callers) c.join();
    h.device.WaitIdle();
    EXPECT_EQ(h.replies.Take().size(), static_cast<std::size_t>(kThreads * kEach));
    EXPECT_EQ(h.device.RequestCount(sim::RequestType::ReadMemory),
              static_cast<std::uint32_t>(kThreads * kEach));
}

TEST(DeviceThread, NoSinkCallAfterTheSinkIsReplaced) {
    DeviceHarness h;
    std::atomic<int> calls{0};
    std::atomic<bool> replaced{false};
    std::atomic<bool> lateCall{false};
    h.device.SetReplySink([&](const std::uint8_t*, std::size_t) {
        if (replaced.load()) lateCall = true;
        ++calls;
    });
    const Bytes request = ReadMemory(0, 4);
    for (int i = 0; i < 500; ++i) h.device.Receive(request.data(), request.size());
    while (calls.load() < 10) std::this_thread::yield();
    h.device.SetReplySink(nullptr);
    replaced = true;
    h.device.WaitIdle();
    EXPECT_FALSE(lateCall.load());
}

TEST(DeviceThread, DestructorEndsPendingDelaysWithoutCallingTheSink) {
    std::atomic<int> calls{0};
    const auto start = std::chrono::steady_clock::now();
    {
        sim::DeviceOptions options;
        sim::Fault delay;
        delay.on = sim::RequestType::IdentityRequest;
        delay.ordinal = 0;
        delay.action = sim::FaultAction::DelayReply;
        delay.delayMs = 60000;
        options.faults = {delay};
        sim::VirtualDevice device(options);
        device.SetReplySink([&](const std::uint8_t*, std::size_t) { ++calls; });
        const Bytes request = IdentityRequest();
        device.Receive(request.data(), request.size());
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(calls.load(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

TEST(DeviceThread, DestructorWaitsForARunningSinkCall) {
    std::atomic<bool> inSink{false};
    std::atomic<bool> sinkDone{false};
    {
        sim::VirtualDevice device;
        device.SetReplySink([&](const std::uint8_t*, std::size_t) {
            inSink = true;
            std::this_thread::sleep_for(50ms);
            sinkDone = true;
        });
        const Bytes request = IdentityRequest();
        device.Receive(request.data(), request.size());
        while (!inSink.load()) std::this_thread::yield();
    }
    EXPECT_TRUE(sinkDone.load());
}

TEST(DeviceThread, LoopbackThroughTheSinkDoesNotDeadlock) {
    // A far end that answers every device message at once from inside the sink, while the
    // test thread keeps sending and reading the device's state.
    DeviceHarness h;
    std::atomic<int> answered{0};
    h.device.SetReplySink([&](const std::uint8_t*, std::size_t) {
        const Bytes ack = Status(0);
        h.device.Receive(ack.data(), ack.size());
        ++answered;
    });
    for (int i = 0; i < 100; ++i) {
        h.device.SendUnsolicited(sim::UnsolicitedMessage::Command05);
        (void)h.device.Transcript();
    }
    EXPECT_TRUE(h.device.WaitForUpdaterAnswers(100, 10s));
    EXPECT_EQ(answered.load(), 100);
}

}  // namespace
}  // namespace tq5::test
