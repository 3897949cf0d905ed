// Windows timer service: the multimedia timer (timeGetDevCaps, timeBeginPeriod,
// timeEndPeriod, timeSetEvent, timeKillEvent). Ticks run on the multimedia-timer thread.
//
// The platform hands each WinMM event our own id as its user value, never a pointer: a
// callback that the system still delivers after timeKillEvent (it gives no guarantee that
// none is on its way) finds no event under that id and does nothing. A call lock per event
// keeps calls from overlapping and lets KillEvent wait out a tick in progress.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "midi/timer_platform.hpp"

namespace tq5::midi {
namespace {

struct EventState {
    TimerCallback callback = nullptr;
    std::uintptr_t user = 0;
    std::uint32_t resolutionMs = 1;
    UINT periodicId = 0;
    std::mutex callLock;  // held while the callback runs
    std::atomic<bool> stopped{false};
    std::atomic<DWORD> callingThread{0};  // the thread inside the callback, 0 when none
    std::atomic<bool> wakePending{false};
};

class Win32TimerPlatform final : public TimerPlatform {
public:
    std::uint32_t MinPeriod() override {
        TIMECAPS caps{};
        if (timeGetDevCaps(&caps, sizeof caps) != MMSYSERR_NOERROR) return 0;
        return caps.wPeriodMin;
    }

    void BeginPeriod(std::uint32_t periodMs) override { timeBeginPeriod(periodMs); }
    void EndPeriod(std::uint32_t periodMs) override { timeEndPeriod(periodMs); }

    std::uint32_t SetPeriodicEvent(std::uint32_t periodMs, std::uint32_t resolutionMs,
                                   TimerCallback callback, std::uintptr_t user) override {
        if (callback == nullptr) return 0;
        auto state = std::make_shared<EventState>();
        state->callback = callback;
        state->user = user;
        state->resolutionMs = resolutionMs;
        std::uint32_t id = 0;
        {
            std::lock_guard guard(lock_);
            id = nextId_++;
            if (nextId_ == 0) nextId_ = 1;
            events_.emplace(id, state);
        }
        // The event is registered first: its first tick may come before timeSetEvent returns.
        const UINT periodicId = timeSetEvent(periodMs, resolutionMs, &Trampoline, id,
                                             TIME_PERIODIC | TIME_CALLBACK_FUNCTION);
        if (periodicId == 0) {
            std::lock_guard guard(lock_);
            events_.erase(id);
            return 0;
        }
        std::lock_guard guard(lock_);
        state->periodicId = periodicId;
        return id;
    }

    void KillEvent(std::uint32_t id) override {
        std::shared_ptr<EventState> state = Take(id);
        if (state) Finish(*state);
    }

    void WakeEvent(std::uint32_t id) override {
        std::shared_ptr<EventState> state = Find(id);
        if (!state || state->stopped.load()) return;
        // One early tick at a time; the one-shot event ends by itself once it has fired.
        if (state->wakePending.exchange(true)) return;
        const UINT wake = timeSetEvent(state->resolutionMs, state->resolutionMs, &Trampoline, id,
                                       TIME_ONESHOT | TIME_CALLBACK_FUNCTION);
        if (wake == 0) state->wakePending.store(false);
    }

    // Never destroyed: the system may still deliver a late tick while the process ends.
    static Win32TimerPlatform& Instance() {
        static auto* platform = new Win32TimerPlatform;
        return *platform;
    }

private:
    static void CALLBACK Trampoline(UINT /*mmId*/, UINT /*message*/, DWORD_PTR user,
                                    DWORD_PTR /*reserved1*/, DWORD_PTR /*reserved2*/) {
        const auto id = static_cast<std::uint32_t>(user);
        std::shared_ptr<EventState> state = Instance().Find(id);
        if (!state) return;  // killed: a late delivery of the system's
        state->wakePending.store(false);
        std::lock_guard call(state->callLock);
        if (state->stopped.load()) return;
        state->callingThread.store(GetCurrentThreadId());
        state->callback(id, 0, state->user, 0, 0);
        state->callingThread.store(0);
    }

    std::shared_ptr<EventState> Find(std::uint32_t id) {
        std::lock_guard guard(lock_);
        const auto found = events_.find(id);
        return found == events_.end() ? nullptr : found->second;
    }

    std::shared_ptr<EventState> Take(std::uint32_t id) {
        std::lock_guard guard(lock_);
        const auto found = events_.find(id);
        if (found == events_.end()) return nullptr;
        std::shared_ptr<EventState> state = std::move(found->second);
        events_.erase(found);
        return state;
    }

    static void Finish(EventState& state) {
        UINT periodicId = 0;
        {
            std::lock_guard guard(Instance().lock_);
            periodicId = state.periodicId;
        }
        if (periodicId != 0) timeKillEvent(periodicId);
        if (state.callingThread.load() == GetCurrentThreadId()) {
            // Killed from its own tick: that tick is the one in progress; none follows.
            state.stopped.store(true);
            return;
        }
        // Waits for a tick in progress; every later delivery sees the event stopped.
        std::lock_guard call(state.callLock);
        state.stopped.store(true);
    }

    std::mutex lock_;
    std::map<std::uint32_t, std::shared_ptr<EventState>> events_;
    std::uint32_t nextId_ = 1;
};

}  // namespace

TimerPlatform& SystemTimerPlatform() { return Win32TimerPlatform::Instance(); }

}  // namespace tq5::midi
