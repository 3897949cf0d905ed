// A full firmware update (all ten rows, 936 exchanges) through a real MIDI server: a private
// jackd (dummy driver, 48 kHz, 64-frame period = 1.333 ms) started here, the virtual TQ-5 on
// two JACK ports of its own as tq5-devsim runs it, and the updater's core on the RtMidi JACK
// driver as tq5-updater runs it. Every message waits for the server's next cycle, so the
// period, not the updater, sets the pace.
//
//   BM_UpdateOverJack/sync:0/frames:64   jackd -d dummy -r 48000 -p 64
//   BM_UpdateOverJack/sync:1/frames:64   the same with --sync (as tools/e2e-jack.sh runs it)
//   .../verify:1                         with the read-back check (as tq5-updater by default)
//   .../verify:1/read_limit:256          a device that refuses reads above 256 bytes: the
//                                        check reads in its smallest size
//
// Counters (per update): exchanges, wall_ms, period_ms; exchange_p50/p99_us (request to next
// request, the 500 ms pause left out); periods_per_exchange, the update's time without the
// pause over exchanges x period; lost_per_update, exchanges that took over 500 ms (a message
// lost and sent again after the procedure's wait); read_bytes, the read size of the check.
//
//   cmake --preset release && cmake --build build/release --target jack_update_bench
//   build/release/bench/jack_update_bench        (needs jackd; starts and stops its own)

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench/update_run.hpp"
#include "midi/child_process.hpp"
#include "midi/drivers/rtmidi/rtmidi_backend.hpp"
#include "sim/devsim/device_endpoint.hpp"
#include "sim/virtual_device.hpp"

namespace {

using namespace tq5;

constexpr double kSampleRate = 48000;

// A jackd of our own, reached by name through JACK_DEFAULT_SERVER; ended by its pid.
class PrivateJack {
public:
    PrivateJack(bool sync, int frames) {
        const std::string jackd = test::FindInPath("jackd");
        if (jackd.empty()) return;
        const std::string name = "tq5-bench-" + std::to_string(::getpid()) + "-" +
                                 std::to_string(sync) + "-" + std::to_string(frames);
        ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        ::setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        std::vector<std::string> args{jackd, "--no-realtime", "--name", name};
        if (sync) args.push_back("--sync");
        for (const char* arg : {"-d", "dummy", "-r", "48000", "-p"}) args.emplace_back(arg);
        args.push_back(std::to_string(frames));
        if (!server_.Start(args, "/dev/null")) return;
        for (int i = 0; i < 100 && server_.IsRunning(); ++i) {
            if (midi::RtMidiBackend::IsReachable(midi::RtMidiSystem::Jack)) {
                up_ = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    bool Up() const { return up_; }

private:
    test::ChildProcess server_;
    bool up_ = false;
};

void BM_UpdateOverJack(benchmark::State& state) {
    const bool sync = state.range(0) != 0;
    const auto frames = static_cast<int>(state.range(1));
    const bool verify = state.range(2) != 0;
    const auto readLimit = static_cast<std::uint32_t>(state.range(3));
    PrivateJack server(sync, frames);
    if (!server.Up()) {
        state.SkipWithError("no jackd (Debian package jackd2)");
        for (auto _ : state) {
        }
        return;
    }
    sim::DeviceOptions deviceOptions;
    deviceOptions.transcriptLimit = 100000;  // every exchange of a check in small reads
    sim::VirtualDevice device(deviceOptions);
    if (readLimit != 0) {
        sim::Fault limit;
        limit.on = sim::RequestType::ReadMemory;
        limit.ordinal = 0;  // every read
        limit.action = sim::FaultAction::RefuseLargeRead;
        limit.bytes = readLimit;
        device.AddFault(limit);
    }
    sim::DevsimOptions endpointOptions;
    endpointOptions.clientName = "tq5-bench-device";
    sim::DeviceEndpoint endpoint(device, endpointOptions);
    std::string error;
    if (!endpoint.Open(error)) {
        state.SkipWithError(error.c_str());
        for (auto _ : state) {
        }
        return;
    }

    bench::CountingTimer timer(true);
    std::vector<double> exchangeUs;
    double wallMs = 0;
    double periodsPerExchange = 0;
    bench::Exchanges last;
    bool completed = true;
    std::uint32_t readBytes = 0;
    const double periodMs = frames / kSampleRate * 1000.0;
    for (auto _ : state) {
        bench::PrepareFullUpdate(device);
        midi::RtMidiBackend backend(midi::RtMidiSystem::Jack);

        const bench::UpdateRun run =
            bench::RunUpdate(backend, "TQ-5 in", "TQ-5 out", timer, verify);
        state.SetIterationTime(run.wallMs / 1000.0);
        completed = completed && run.completed && run.verified == verify;
        readBytes = run.readBytes;
        wallMs += run.wallMs;
        device.WaitIdle();
        last = bench::ReadExchanges(device.Transcript());
        exchangeUs.insert(exchangeUs.end(), last.exchangeUs.begin(), last.exchangeUs.end());
        periodsPerExchange +=
            (run.wallMs - last.pauseMs) / (static_cast<double>(last.count) * periodMs);
    }
    if (!completed) state.SkipWithError("an update did not complete (or was not read back)");

    const auto n = static_cast<double>(state.iterations());
    state.counters["exchanges"] = static_cast<double>(last.count);
    state.counters["read_bytes"] = readBytes;
    state.counters["wall_ms"] = wallMs / n;
    state.counters["period_ms"] = periodMs;
    state.counters["exchange_p50_us"] = bench::Percentile(exchangeUs, 0.50);
    state.counters["exchange_p99_us"] = bench::Percentile(exchangeUs, 0.99);
    state.counters["periods_per_exchange"] = periodsPerExchange / n;
    // Exchanges that sat out a wait of the procedures (1000 ms for a block): a lost message.
    state.counters["lost_per_update"] =
        static_cast<double>(std::count_if(exchangeUs.begin(), exchangeUs.end(),
                                          [](double us) { return us > 500000; })) /
        n;
}

BENCHMARK(BM_UpdateOverJack)
    ->ArgNames({"sync", "frames", "verify", "read_limit"})
    ->Args({0, 64, 0, 0})
    ->Args({1, 64, 0, 0})
    ->Args({1, 64, 1, 0})
    ->Args({1, 64, 1, 256})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
