// What the 1 ms poll costs while nothing happens: the window's core is up with its poll timer
// running the reply dispatcher over an empty receive queue, no procedure runs, for 10 s. The
// main thread sleeps meanwhile, so the process's CPU time is the timer thread's.
//
// Counters: cpu_pct_of_core (CPU time over wall time, in % of one core), cpu_us_per_tick,
// ticks and mean_period_us. For comparison, BM_TimerAlone is the same timer service with a
// tick that does nothing, and BM_BareMillisecondWake the floor: a thread sleeping to each
// next millisecond.
//
//   cmake --preset release && cmake --build build/release --target idle_poll_bench
//   build/release/bench/idle_poll_bench

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/cli/console_host.hpp"
#include "app/updater_core.hpp"
#include "bench/update_run.hpp"
#include "firmware/embedded_firmware.hpp"
#include "midi/drivers/virtual/virtual_backend.hpp"

namespace {

using namespace tq5;
using Clock = std::chrono::steady_clock;

// What the runs add up over their iterations, and the counters they print from it.
struct IdleTotals {
    double cpuS = 0;
    double wallS = 0;
    std::uint64_t ticks = 0;  // wake-ups

    // Lets `timer` run while this thread sleeps for `idle`, once it has settled, and adds up
    // the process's CPU time (the timer thread's), the wall time and the ticks meanwhile.
    void SleepThrough(std::chrono::seconds idle, const bench::CountingTimer& timer) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::uint64_t ticksBefore = timer.Ticks();
        const double cpuBefore = bench::ProcessCpuSeconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(idle);
        wallS += std::chrono::duration<double>(Clock::now() - start).count();
        cpuS += bench::ProcessCpuSeconds() - cpuBefore;
        ticks += timer.Ticks() - ticksBefore;
    }

    void Report(benchmark::State& state) const {
        const auto perTick = [this](double seconds) {
            return ticks > 0 ? seconds * 1e6 / static_cast<double>(ticks) : 0.0;
        };
        state.counters["cpu_pct_of_core"] = cpuS / wallS * 100.0;
        state.counters["cpu_us_per_tick"] = perTick(cpuS);
        state.counters["ticks"] =
            static_cast<double>(ticks) / static_cast<double>(state.iterations());
        state.counters["mean_period_us"] = perTick(wallS);
    }
};

void BM_IdlePoll(benchmark::State& state) {
    const auto idle = std::chrono::seconds(state.range(0));
    IdleTotals totals;
    for (auto _ : state) {
        midi::VirtualMidiBackend backend;
        bench::CountingTimer timer(true);
        const engine::FirmwareStore& firmware = firmware::EmbeddedFirmware();
        app::cli::ConsoleHost host(stdout, stderr, false, firmware);
        app::UpdaterCore core(app::CoreSettings{backend, firmware, engine::Timing{}, &timer}, host);
        core.StartPolling();
        totals.SleepThrough(idle, timer);
    }
    totals.Report(state);
}

// The system's timer service alone, as the poll uses it, with a tick that does nothing: what
// the periodic event costs before the dispatcher does any work.
void NoWork(std::uint32_t, std::uint32_t, std::uintptr_t, std::uintptr_t, std::uintptr_t) {}

void BM_TimerAlone(benchmark::State& state) {
    const auto idle = std::chrono::seconds(state.range(0));
    IdleTotals totals;
    for (auto _ : state) {
        bench::CountingTimer timer(true);
        const std::uint32_t id = timer.SetPeriodicEvent(1, 1, &NoWork, 0);
        totals.SleepThrough(idle, timer);
        timer.KillEvent(id);
    }
    totals.Report(state);
}

// The floor: a thread that only sleeps to the next millisecond on the monotonic clock and
// wakes, with the same counters. What any 1 ms periodic wake-up costs on this machine.
void BM_BareMillisecondWake(benchmark::State& state) {
    const auto idle = std::chrono::seconds(state.range(0));
    IdleTotals totals;
    for (auto _ : state) {
        const double cpuBefore = bench::ProcessCpuSeconds();
        const auto start = Clock::now();
        std::thread sleeper([&] {
            auto next = start;
            while (Clock::now() - start < idle) {
                next += std::chrono::milliseconds(1);
                std::this_thread::sleep_until(next);
                ++totals.ticks;
            }
        });
        sleeper.join();
        totals.wallS += std::chrono::duration<double>(Clock::now() - start).count();
        totals.cpuS += bench::ProcessCpuSeconds() - cpuBefore;
    }
    totals.Report(state);
}

BENCHMARK(BM_IdlePoll)->ArgName("seconds")->Arg(10)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_TimerAlone)->ArgName("seconds")->Arg(10)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_BareMillisecondWake)
    ->ArgName("seconds")
    ->Arg(10)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
