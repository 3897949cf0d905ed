#include "midi/dx_mtimer.hpp"

namespace tq5::midi {

namespace {
// Used when the platform can't tell its finest period.
constexpr std::uint32_t kFallbackResolutionMs = 1;
}  // namespace

CDxMTimer::CDxMTimer() : CDxMTimer(SystemTimerPlatform()) {}

CDxMTimer::CDxMTimer(TimerPlatform& platform)
    : platform_(platform), periodMin_(platform.MinPeriod()) {
    if (periodMin_ == 0) periodMin_ = kFallbackResolutionMs;
}

CDxMTimer::~CDxMTimer() { Stop(); }

std::uint32_t CDxMTimer::Start(std::uint32_t periodMs, TickCallback callback, std::uintptr_t user) {
    Stop();
    std::lock_guard guard(lifecycleLock_);
    platform_.BeginPeriod(periodMin_);
    if (callback == nullptr) {
        callback = &CDxMTimer::DefaultTimerCallback;
        user = reinterpret_cast<std::uintptr_t>(this);
    }
    const std::uint32_t id = platform_.SetPeriodicEvent(periodMs, periodMin_, callback, user);
    if (id == 0) platform_.EndPeriod(periodMin_);
    timerId_.store(id);
    return id;
}

int CDxMTimer::Stop() {
    std::lock_guard guard(lifecycleLock_);
    const std::uint32_t id = timerId_.exchange(0);
    if (id != 0) {
        platform_.KillEvent(id);
        platform_.EndPeriod(periodMin_);
    }
    return 1;
}

void CDxMTimer::RequestTick() {
    const std::uint32_t id = timerId_.load();
    if (id != 0) platform_.WakeEvent(id);
}

void CDxMTimer::DefaultTimerCallback(std::uint32_t, std::uint32_t, std::uintptr_t user,
                                     std::uintptr_t, std::uintptr_t) {
    reinterpret_cast<CDxMTimer*>(user)->OnTick();
}

}  // namespace tq5::midi
