// POSIX timer service: each periodic event is a thread that keeps a steady schedule on the
// monotonic clock. The resolution calls have nothing to adjust here; the steady clock and
// condition-variable waits already give about a millisecond.

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "midi/timer_platform.hpp"

namespace tq5::midi {
namespace {

using Clock = std::chrono::steady_clock;

// Shared by the event's thread and the platform, so a thread that had to be detached (an
// event killed from its own callback) never outlives what it reads.
struct EventState {
    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    bool tickRequested = false;
};

void RunEvent(const std::shared_ptr<EventState>& state, std::uint32_t id,
              std::chrono::milliseconds period, TimerCallback callback, std::uintptr_t user) {
    Clock::time_point next = Clock::now() + period;
    std::unique_lock guard(state->lock);
    while (true) {
        state->wake.wait_until(guard, next,
                               [&] { return state->stopping || state->tickRequested; });
        if (state->stopping) return;
        const bool early = state->tickRequested;
        state->tickRequested = false;
        guard.unlock();
        callback(id, 0, user, 0, 0);
        guard.lock();
        if (early) continue;  // the period's own tick still comes on schedule
        next += period;
        // After a long tick, skip the missed periods instead of running them back to back.
        const Clock::time_point now = Clock::now();
        if (next < now) next = now + period;
    }
}

class PosixTimerPlatform final : public TimerPlatform {
public:
    ~PosixTimerPlatform() override {
        std::map<std::uint32_t, Event> remaining;
        {
            std::lock_guard guard(lock_);
            remaining.swap(events_);
        }
        for (auto& [id, event] : remaining) Finish(event);
    }

    std::uint32_t MinPeriod() override { return 1; }
    void BeginPeriod(std::uint32_t) override {}
    void EndPeriod(std::uint32_t) override {}

    std::uint32_t SetPeriodicEvent(std::uint32_t periodMs, std::uint32_t, TimerCallback callback,
                                   std::uintptr_t user) override {
        if (callback == nullptr || periodMs == 0) return 0;
        std::lock_guard guard(lock_);
        const std::uint32_t id = nextId_++;
        if (nextId_ == 0) nextId_ = 1;
        Event event{std::make_shared<EventState>(), {}};
        event.thread = std::thread(RunEvent, event.state, id, std::chrono::milliseconds(periodMs),
                                   callback, user);
        events_.emplace(id, std::move(event));
        return id;
    }

    void KillEvent(std::uint32_t id) override {
        Event event;
        {
            std::lock_guard guard(lock_);
            const auto found = events_.find(id);
            if (found == events_.end()) return;
            event = std::move(found->second);
            events_.erase(found);
        }
        Finish(event);
    }

    void WakeEvent(std::uint32_t id) override {
        std::lock_guard guard(lock_);
        const auto found = events_.find(id);
        if (found == events_.end()) return;
        EventState& state = *found->second.state;
        {
            std::lock_guard stateGuard(state.lock);
            state.tickRequested = true;
        }
        state.wake.notify_one();
    }

private:
    struct Event {
        std::shared_ptr<EventState> state;
        std::thread thread;
    };

    static void Finish(Event& event) {
        {
            std::lock_guard guard(event.state->lock);
            event.state->stopping = true;
        }
        event.state->wake.notify_one();
        if (event.thread.get_id() == std::this_thread::get_id()) {
            event.thread.detach();  // killed from its own tick: it ends after the tick
        } else if (event.thread.joinable()) {
            event.thread.join();  // waits for a tick in progress
        }
    }

    std::mutex lock_;
    std::map<std::uint32_t, Event> events_;
    std::uint32_t nextId_ = 1;
};

}  // namespace

TimerPlatform& SystemTimerPlatform() {
    static PosixTimerPlatform platform;
    return platform;
}

}  // namespace tq5::midi
