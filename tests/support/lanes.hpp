#pragma once
// Independent runs of a long test spread over a few threads ("lanes"). The soak and the
// close-at-random runs spend most of their time in the procedures' waits for replies that a
// fault lost; side by side those waits overlap instead of adding up, and each wait keeps the
// length that a loaded machine needs. Each run must own everything it touches; results go
// into a slot per run, so that the caller reads them in run order, whatever order they ended.

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

namespace tq5::test {

// The number of lanes: TQ5_TEST_LANES when set (1 runs everything in order on the calling
// thread's behalf), else `fallback`.
inline int LaneCount(int fallback) {
    const char* text = std::getenv("TQ5_TEST_LANES");
    const int lanes = text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
    return std::max(lanes, 1);
}

// Calls run(0) ... run(count - 1), at most `lanes` at a time; returns once all have ended.
inline void RunInLanes(int count, int lanes, const std::function<void(int)>& run) {
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    const int used = std::clamp(lanes, 1, std::max(count, 1));
    threads.reserve(static_cast<std::size_t>(used));
    for (int lane = 0; lane < used; ++lane) {
        threads.emplace_back([&] {
            for (int i = next.fetch_add(1); i < count; i = next.fetch_add(1)) run(i);
        });
    }
    for (std::thread& thread : threads) thread.join();
}

}  // namespace tq5::test
