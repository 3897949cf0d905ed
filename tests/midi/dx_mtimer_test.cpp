// CDxMTimer over the system timer service, with the resolution calls counted.

#include "midi/dx_mtimer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "wait_until.hpp"

namespace tq5::midi {
namespace {

using test::WaitUntil;

// Passes everything on to the system service and writes down the order of the calls.
class CountingPlatform final : public TimerPlatform {
public:
    std::uint32_t MinPeriod() override { return SystemTimerPlatform().MinPeriod(); }
    void BeginPeriod(std::uint32_t period) override {
        Log("begin");
        SystemTimerPlatform().BeginPeriod(period);
    }
    void EndPeriod(std::uint32_t period) override {
        Log("end");
        SystemTimerPlatform().EndPeriod(period);
    }
    std::uint32_t SetPeriodicEvent(std::uint32_t period, std::uint32_t resolution,
                                   TimerCallback callback, std::uintptr_t user) override {
        Log("set");
        if (refuseEvents) return 0;
        return SystemTimerPlatform().SetPeriodicEvent(period, resolution, callback, user);
    }
    void KillEvent(std::uint32_t id) override {
        Log("kill");
        SystemTimerPlatform().KillEvent(id);
    }
    void WakeEvent(std::uint32_t id) override { SystemTimerPlatform().WakeEvent(id); }

    std::vector<std::string> Calls() {
        std::lock_guard guard(lock_);
        return calls_;
    }
    int Count(const std::string& name) {
        int n = 0;
        for (const auto& call : Calls()) n += call == name ? 1 : 0;
        return n;
    }

    bool refuseEvents = false;

private:
    void Log(const char* name) {
        std::lock_guard guard(lock_);
        calls_.emplace_back(name);
    }

    std::mutex lock_;
    std::vector<std::string> calls_;
};

struct TickLog {
    std::atomic<int> ticks{0};
    std::atomic<int> inTick{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> onStartingThread{false};
    std::thread::id startingThread = std::this_thread::get_id();
    std::chrono::milliseconds tickLength{0};
};

void CountTick(std::uint32_t, std::uint32_t, std::uintptr_t user, std::uintptr_t, std::uintptr_t) {
    auto* log = reinterpret_cast<TickLog*>(user);
    if (++log->inTick > 1) log->overlapped = true;
    if (std::this_thread::get_id() == log->startingThread) log->onStartingThread = true;
    if (log->tickLength.count() > 0) std::this_thread::sleep_for(log->tickLength);
    ++log->ticks;
    --log->inTick;
}

std::uintptr_t UserValue(TickLog& log) { return reinterpret_cast<std::uintptr_t>(&log); }

TEST(CDxMTimer, TicksEveryPeriodOnATimerThread) {
    CountingPlatform platform;
    CDxMTimer timer(platform);
    TickLog log;
    const std::uint32_t id = timer.Start(1, &CountTick, UserValue(log));
    ASSERT_NE(id, 0u);
    EXPECT_EQ(timer.TimerId(), id);
    ASSERT_TRUE(WaitUntil([&] { return log.ticks.load() >= 20; }));
    EXPECT_FALSE(log.onStartingThread.load());
    EXPECT_EQ(timer.Stop(), 1);
    EXPECT_EQ(timer.TimerId(), 0u);
    EXPECT_EQ(platform.Calls(), (std::vector<std::string>{"begin", "set", "kill", "end"}));
}

TEST(CDxMTimer, StartOnARunningTimerReplacesItAndOnlyTheNewCallbackRuns) {
    CountingPlatform platform;
    CDxMTimer timer(platform);
    TickLog first;
    TickLog second;
    ASSERT_NE(timer.Start(1, &CountTick, UserValue(first)), 0u);
    ASSERT_TRUE(WaitUntil([&] { return first.ticks.load() >= 1; }));
    ASSERT_NE(timer.Start(1, &CountTick, UserValue(second)), 0u);
    const int firstAfterRestart = first.ticks.load();
    ASSERT_TRUE(WaitUntil([&] { return second.ticks.load() >= 10; }));
    EXPECT_EQ(first.ticks.load(), firstAfterRestart);
    EXPECT_EQ(platform.Calls(),
              (std::vector<std::string>{"begin", "set", "kill", "end", "begin", "set"}));
}

TEST(CDxMTimer, StopOnAStoppedTimerChangesNothingAndReturnsOne) {
    CountingPlatform platform;
    {
        CDxMTimer timer(platform);
        EXPECT_EQ(timer.Stop(), 1);
        EXPECT_EQ(timer.Stop(), 1);
    }
    // Destroying a timer that never ran releases no resolution either.
    EXPECT_TRUE(platform.Calls().empty());
}

class CountingTimer final : public CDxMTimer {
public:
    explicit CountingTimer(TimerPlatform& platform) : CDxMTimer(platform) {}
    ~CountingTimer() override { Stop(); }
    void OnTick() override { ++ticks; }
    std::atomic<int> ticks{0};
};

TEST(CDxMTimer, ANullCallbackTicksOnTickOfTheTimerItself) {
    CountingPlatform platform;
    CountingTimer timer(platform);
    TickLog unused;
    ASSERT_NE(timer.Start(1, nullptr, UserValue(unused)), 0u);
    ASSERT_TRUE(WaitUntil([&] { return timer.ticks.load() >= 5; }));
    EXPECT_EQ(unused.ticks.load(), 0);

    // The base class's own OnTick does nothing; ticking it is harmless.
    CDxMTimer plain(platform);
    ASSERT_NE(plain.Start(1, nullptr, 0), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TEST(CDxMTimer, AStartWithoutAnEventReleasesTheResolutionAndStaysStopped) {
    CountingPlatform platform;
    platform.refuseEvents = true;
    CDxMTimer timer(platform);
    TickLog log;
    EXPECT_EQ(timer.Start(1, &CountTick, UserValue(log)), 0u);
    EXPECT_EQ(timer.TimerId(), 0u);
    EXPECT_EQ(timer.Stop(), 1);
    EXPECT_EQ(platform.Calls(), (std::vector<std::string>{"begin", "set", "end"}));
}

TEST(CDxMTimer, EveryRaiseOfTheResolutionIsReleasedOnce) {
    CountingPlatform platform;
    TickLog log;
    {
        CDxMTimer timer(platform);
        for (int i = 0; i < 5; ++i) ASSERT_NE(timer.Start(1, &CountTick, UserValue(log)), 0u);
        timer.Stop();
        ASSERT_NE(timer.Start(2, &CountTick, UserValue(log)), 0u);
    }  // destruction stops the last one
    EXPECT_EQ(platform.Count("begin"), 6);
    EXPECT_EQ(platform.Count("end"), 6);
    EXPECT_EQ(platform.Count("set"), platform.Count("kill"));
}

TEST(CDxMTimer, StopWaitsForATickInProgressAndNoTickFollows) {
    CountingPlatform platform;
    CDxMTimer timer(platform);
    TickLog log;
    log.tickLength = std::chrono::milliseconds(30);
    ASSERT_NE(timer.Start(1, &CountTick, UserValue(log)), 0u);
    ASSERT_TRUE(WaitUntil([&] { return log.inTick.load() == 1; }));
    timer.Stop();
    EXPECT_EQ(log.inTick.load(), 0);
    const int ticks = log.ticks.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(log.ticks.load(), ticks);
}

TEST(CDxMTimer, RequestedTicksComeEarlyButNeverOverlap) {
    CountingPlatform platform;
    CDxMTimer timer(platform);
    TickLog log;
    // A period far beyond the hang bound: only requested ticks can arrive in time.
    ASSERT_NE(timer.Start(60000, &CountTick, UserValue(log)), 0u);
    timer.RequestTick();
    ASSERT_TRUE(WaitUntil([&] { return log.ticks.load() >= 1; }));

    log.tickLength = std::chrono::milliseconds(1);
    std::atomic<bool> done{false};
    auto hammer = [&] {
        while (!done.load()) timer.RequestTick();
    };
    std::thread a(hammer);
    std::thread b(hammer);
    ASSERT_TRUE(WaitUntil([&] { return log.ticks.load() >= 30; }));
    done = true;
    a.join();
    b.join();
    EXPECT_FALSE(log.overlapped.load());
}

TEST(CDxMTimer, RequestTickOnAStoppedTimerDoesNothing) {
    CountingPlatform platform;
    CDxMTimer timer(platform);
    timer.RequestTick();
    TickLog log;
    ASSERT_NE(timer.Start(60000, &CountTick, UserValue(log)), 0u);
    timer.Stop();
    timer.RequestTick();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(log.ticks.load(), 0);
}

struct SelfStopping {
    CDxMTimer* timer = nullptr;
    std::atomic<int> ticks{0};
};

void StopFromTick(std::uint32_t, std::uint32_t, std::uintptr_t user, std::uintptr_t,
                  std::uintptr_t) {
    auto* self = reinterpret_cast<SelfStopping*>(user);
    ++self->ticks;
    self->timer->Stop();
}

TEST(CDxMTimer, ATickMayStopItsOwnTimer) {
    CountingPlatform platform;
    CDxMTimer timer(platform);
    SelfStopping self{&timer};
    ASSERT_NE(timer.Start(1, &StopFromTick, reinterpret_cast<std::uintptr_t>(&self)), 0u);
    ASSERT_TRUE(WaitUntil([&] { return timer.TimerId() == 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(self.ticks.load(), 1);
    EXPECT_EQ(platform.Count("end"), 1);
}

}  // namespace
}  // namespace tq5::midi
