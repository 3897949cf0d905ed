#pragma once
// For a driver contract's held line: how long the line was held and how much CPU the whole
// process used meanwhile. A send that waits for the line should sleep; one that spins burns
// the whole hold. A figure to read, never a bound: a busy machine moves it.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>

namespace tq5::test {

class HoldMeter {
public:
    void Start() {
        since_ = std::chrono::steady_clock::now();
        cpuAtStart_ = ProcessCpu();
    }
    void Stop() {
        heldFor_ = std::chrono::steady_clock::now() - since_;
        cpu_ = ProcessCpu() - cpuAtStart_;
    }
    void PrintFigure() const {
        std::printf("[ figure   ] %.1f ms of CPU while the line was held for %.0f ms\n",
                    cpu_.count() / 1000.0,
                    std::chrono::duration<double, std::milli>(heldFor_).count());
    }

private:
    static std::chrono::microseconds ProcessCpu() {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    }

    std::chrono::steady_clock::time_point since_;
    std::chrono::steady_clock::duration heldFor_{};
    std::chrono::microseconds cpuAtStart_{};
    std::chrono::microseconds cpu_{};
};

}  // namespace tq5::test
