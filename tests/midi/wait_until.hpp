#pragma once
// Waits for a condition that another thread makes true; the bound only catches a hang.

#include <chrono>
#include <thread>

namespace tq5::test {

inline constexpr std::chrono::milliseconds kHangBound{5000};

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds bound = kHangBound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace tq5::test
