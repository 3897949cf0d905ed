#pragma once
// What CDxMTimer asks of the platform's periodic timer service: the finest period, raising
// and releasing the timer resolution, and periodic events delivered on a timer thread.
// POSIX: platform/timer_platform_posix.cpp (a thread with a steady period). Windows: the
// multimedia timer. Tests wrap the system one to count the calls or to refuse an event.

#include <cstdint>

namespace tq5::midi {

// The platform's timer-callback form: timer id, message, user value, two reserved values.
using TimerCallback = void (*)(std::uint32_t timerId, std::uint32_t message, std::uintptr_t user,
                               std::uintptr_t reserved1, std::uintptr_t reserved2);

class TimerPlatform {
public:
    virtual ~TimerPlatform() = default;
    // The finest period in ms (timeGetDevCaps' wPeriodMin); 0 when it can't be queried.
    virtual std::uint32_t MinPeriod() = 0;
    virtual void BeginPeriod(std::uint32_t periodMs) = 0;
    virtual void EndPeriod(std::uint32_t periodMs) = 0;
    // Starts a periodic event that calls `callback(id, 0, user, 0, 0)` every `periodMs` on a
    // timer thread, never two calls at once. Returns its id, 0 when none can be created.
    virtual std::uint32_t SetPeriodicEvent(std::uint32_t periodMs, std::uint32_t resolutionMs,
                                           TimerCallback callback, std::uintptr_t user) = 0;
    // Ends the event. Returns once no call of its callback is in progress and none will
    // start (when called from the callback itself, no further call starts).
    virtual void KillEvent(std::uint32_t id) = 0;
    // Asks for the next call of the event's callback to come as soon as possible (any
    // thread; unknown ids are ignored). Calls still never overlap.
    virtual void WakeEvent(std::uint32_t id) = 0;
};

// The platform's own timer service, alive for the whole program.
TimerPlatform& SystemTimerPlatform();

}  // namespace tq5::midi
