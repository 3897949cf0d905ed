// CDxMTimer on the Windows multimedia timer, under Wine: ticks on the timer thread, Stop
// waiting out a tick in progress, Stop from inside a tick, early ticks on request.

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "midi/dx_mtimer.hpp"

namespace tq5::test {
namespace {

using Clock = std::chrono::steady_clock;
using midi::CDxMTimer;

// Polls `done` for up to five seconds: a bound against a hang, not a timing check.
template <typename Predicate>
bool Eventually(Predicate done) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct TickLog {
    std::atomic<int> ticks{0};
    std::atomic<DWORD> thread{0};
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};
    std::atomic<int> sleepMs{0};
    std::atomic<bool> inTick{false};
    CDxMTimer* stopFromTick = nullptr;
};

void Tick(std::uint32_t, std::uint32_t, std::uintptr_t user, std::uintptr_t, std::uintptr_t) {
    auto& log = *reinterpret_cast<TickLog*>(user);
    const int now = ++log.inside;
    int most = log.mostInside.load();
    while (now > most && !log.mostInside.compare_exchange_weak(most, now)) {
    }
    log.inTick.store(true);
    log.thread.store(GetCurrentThreadId());
    if (log.sleepMs.load() > 0) Sleep(static_cast<DWORD>(log.sleepMs.load()));
    ++log.ticks;
    if (log.stopFromTick != nullptr) log.stopFromTick->Stop();
    log.inTick.store(false);
    --log.inside;
}

TEST(Win32TimerTest, TicksRunOnTheTimerThreadUntilStopped) {
    TickLog log;
    CDxMTimer timer;
    ASSERT_NE(timer.Start(1, &Tick, reinterpret_cast<std::uintptr_t>(&log)), 0u);
    ASSERT_TRUE(Eventually([&] { return log.ticks.load() >= 20; }));
    EXPECT_NE(log.thread.load(), GetCurrentThreadId());
    EXPECT_EQ(timer.Stop(), 1);
    EXPECT_EQ(timer.TimerId(), 0u);
    const int atStop = log.ticks.load();
    Sleep(30);
    EXPECT_EQ(log.ticks.load(), atStop);
}

TEST(Win32TimerTest, StopWaitsOutATickInProgress) {
    TickLog log;
    log.sleepMs.store(100);
    CDxMTimer timer;
    ASSERT_NE(timer.Start(1, &Tick, reinterpret_cast<std::uintptr_t>(&log)), 0u);
    ASSERT_TRUE(Eventually([&] { return log.inTick.load(); }));
    timer.Stop();
    EXPECT_FALSE(log.inTick.load()) << "Stop returned while a tick was still running";
}

TEST(Win32TimerTest, StopFromInsideATickEndsTheTicks) {
    TickLog log;
    CDxMTimer timer;
    log.stopFromTick = &timer;
    ASSERT_NE(timer.Start(1, &Tick, reinterpret_cast<std::uintptr_t>(&log)), 0u);
    ASSERT_TRUE(Eventually([&] { return timer.TimerId() == 0; }));
    Sleep(30);
    EXPECT_EQ(log.ticks.load(), 1);
}

TEST(Win32TimerTest, RestartRunsOnlyTheNewCallback) {
    TickLog first;
    TickLog second;
    CDxMTimer timer;
    ASSERT_NE(timer.Start(1, &Tick, reinterpret_cast<std::uintptr_t>(&first)), 0u);
    ASSERT_TRUE(Eventually([&] { return first.ticks.load() > 0; }));
    ASSERT_NE(timer.Start(1, &Tick, reinterpret_cast<std::uintptr_t>(&second)), 0u);
    const int firstAtRestart = first.ticks.load();
    ASSERT_TRUE(Eventually([&] { return second.ticks.load() >= 10; }));
    EXPECT_EQ(first.ticks.load(), firstAtRestart);
}

TEST(Win32TimerTest, RequestedTickComesBeforeTheNextPeriod) {
    TickLog log;
    CDxMTimer timer;
    ASSERT_NE(timer.Start(60000, &Tick, reinterpret_cast<std::uintptr_t>(&log)), 0u);
    timer.RequestTick();
    EXPECT_TRUE(Eventually([&] { return log.ticks.load() == 1; }));
}

TEST(Win32TimerTest, TicksNeverOverlapEvenWhenRequestedEarly) {
    TickLog log;
    log.sleepMs.store(3);
    CDxMTimer timer;
    ASSERT_NE(timer.Start(1, &Tick, reinterpret_cast<std::uintptr_t>(&log)), 0u);
    std::thread requester([&] {
        while (log.ticks.load() < 50) timer.RequestTick();
    });
    requester.join();
    timer.Stop();
    EXPECT_EQ(log.mostInside.load(), 1);
}

}  // namespace
}  // namespace tq5::test
