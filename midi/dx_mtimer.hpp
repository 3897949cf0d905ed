#pragma once
// CDxMTimer: runs a callback every `period` milliseconds on the platform's timer thread and
// raises the timer resolution to the finest period while it runs. The main window starts it
// once with period 1 and the dispatcher's tick; each raise of the resolution is matched by
// exactly one release.
//
// Stop (and destruction) return only when no tick is in progress, so the owner may destroy
// what a tick uses (ports, reply event) right after. RequestTick lets a reply that has just
// arrived be dispatched without waiting for the next period; ticks still never overlap.

#include <atomic>
#include <cstdint>
#include <mutex>

#include "midi/timer_platform.hpp"

namespace tq5::midi {

class CDxMTimer {
public:
    using TickCallback = TimerCallback;

    CDxMTimer();
    explicit CDxMTimer(TimerPlatform& platform);
    // Stops the timer. A class that overrides OnTick must stop the timer in its own
    // destructor, before its part of the object is gone.
    virtual ~CDxMTimer();
    CDxMTimer(const CDxMTimer&) = delete;
    CDxMTimer& operator=(const CDxMTimer&) = delete;

    // Stops a running timer, raises the resolution and starts the periodic event. With a
    // null callback every tick calls OnTick of this object and `user` is not used. Returns
    // the new timer id; 0 when no event could be created (the resolution is released again).
    std::uint32_t Start(std::uint32_t periodMs, TickCallback callback, std::uintptr_t user);
    // Kills the event and releases the resolution when running; always returns 1.
    int Stop();
    // Runs the next tick as soon as possible; nothing when stopped. Any thread.
    void RequestTick();

    std::uint32_t TimerId() const { return timerId_.load(); }

    virtual void OnTick() {}

private:
    static void DefaultTimerCallback(std::uint32_t timerId, std::uint32_t message,
                                     std::uintptr_t user, std::uintptr_t reserved1,
                                     std::uintptr_t reserved2);

    TimerPlatform& platform_;
    std::uint32_t periodMin_;
    std::mutex lifecycleLock_;
    std::atomic<std::uint32_t> timerId_{0};
};

}  // namespace tq5::midi
