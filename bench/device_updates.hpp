#pragma once
// What the benchmarks of whole updates over a real MIDI system share: skipping when the
// system is not there, and the benchmark's iterations as updates through the updater's core
// against the virtual TQ-5 on real ports (as tq5-devsim serves it), with the figures read off
// the device's transcript.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/update_run.hpp"
#include "sim/virtual_device.hpp"

namespace tq5::bench {

// Skips the benchmark with `why`; its iterations are still run through, doing nothing.
inline void SkipAll(benchmark::State& state, const char* why) {
    state.SkipWithError(why);
    for (auto _ : state) {
    }
}

// One update per iteration against `device`, through a backend that `makeBackend()` makes
// afresh, on the ports whose names hold `output` and `input`. Counters (per update):
// exchanges, wall_ms, exchange_p50_us, exchange_p99_us, lost_per_update (exchanges that sat out
// a wait of the procedures), round_trip_p50_us (`roundTripP50Us`, a bare round trip over the
// same system in the same run) and exchange_per_round_trip.
template <typename MakeBackend>
void RunUpdates(benchmark::State& state, sim::VirtualDevice& device, MakeBackend makeBackend,
                const std::string& output, const std::string& input, bool verify,
                double roundTripP50Us) {
    CountingTimer timer(true);
    std::vector<double> exchangeUs;
    double wallMs = 0;
    std::size_t exchanges = 0;
    bool completed = true;
    for (auto _ : state) {
        PrepareFullUpdate(device);
        auto backend = makeBackend();
        const UpdateRun run = RunUpdate(*backend, output, input, timer, verify);
        state.SetIterationTime(run.wallMs / 1000.0);
        completed = completed && run.completed;
        wallMs += run.wallMs;
        device.WaitIdle();
        const Exchanges seen = ReadExchanges(device.Transcript());
        exchanges = seen.count;
        exchangeUs.insert(exchangeUs.end(), seen.exchangeUs.begin(), seen.exchangeUs.end());
    }
    if (!completed) state.SkipWithError("an update did not complete");

    const auto n = static_cast<double>(state.iterations());
    const double exchangeP50 = Percentile(exchangeUs, 0.50);
    state.counters["exchanges"] = static_cast<double>(exchanges);
    state.counters["wall_ms"] = wallMs / n;
    state.counters["exchange_p50_us"] = exchangeP50;
    state.counters["exchange_p99_us"] = Percentile(exchangeUs, 0.99);
    state.counters["lost_per_update"] =
        static_cast<double>(std::count_if(exchangeUs.begin(), exchangeUs.end(),
                                          [](double us) { return us > 500000; })) /
        n;
    state.counters["round_trip_p50_us"] = roundTripP50Us;
    state.counters["exchange_per_round_trip"] = exchangeP50 / roundTripP50Us;
}

}  // namespace tq5::bench
