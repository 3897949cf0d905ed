#pragma once
// Auto-reset event: Set() leaves one pending signal that the next wait takes; a wait that
// returns true has consumed it. Setting twice without a wait in between leaves one signal.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tq5::engine {

class ReplyEvent {
public:
    void Set() {
        {
            std::lock_guard guard(lock_);
            signalled_ = true;
        }
        cv_.notify_one();
    }

    void Reset() {
        std::lock_guard guard(lock_);
        signalled_ = false;
    }

    // Waits at most `timeoutMs` milliseconds; true when the signal was taken.
    [[nodiscard]] bool Wait(std::uint32_t timeoutMs) {
        std::unique_lock guard(lock_);
        if (!cv_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                          [&] { return signalled_; })) {
            return false;
        }
        signalled_ = false;
        return true;
    }

private:
    std::mutex lock_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

}  // namespace tq5::engine
