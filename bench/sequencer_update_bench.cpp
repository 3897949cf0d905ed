// A full firmware update (all ten rows, 936 exchanges) through the ALSA sequencer of the
// guest kernel (tools/guest/): the virtual TQ-5 on sequencer ports as tq5-devsim runs it, the
// updater's core on the ALSA driver as tq5-updater runs it. The guest is emulated, so its
// times mean little alone; each is also given as a multiple of a minimal sequencer round trip
// measured in the same run: a 6-byte SysEx message to a client that sends it straight back,
// each side waiting on its reader thread as the drivers do.
//
//   BM_SequencerRoundTrip   counters: round_trip_p50_us, round_trip_p99_us
//   BM_UpdateOverSequencer  counters (per update): exchanges, wall_ms, exchange_p50_us,
//                           exchange_p99_us, lost_per_update, round_trip_p50_us,
//                           exchange_per_round_trip (exchange p50 / round trip p50)
//
//   cmake --build build/release --target sequencer_update_bench
//   tools/guest/run-in-guest.sh -- build/release/bench/sequencer_update_bench

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/device_updates.hpp"
#include "bench/update_run.hpp"
#include "midi/drivers/alsa/alsa_backend.hpp"
#include "midi/drivers/alsa/alsa_sequencer.hpp"
#include "sim/devsim/device_endpoint.hpp"
#include "sim/virtual_device.hpp"

namespace {

using namespace tq5;
using Clock = std::chrono::steady_clock;

constexpr int kRoundTrips = 1000;

// Round trips between a sender (an output client and an input client, as the updater has)
// and an echo client; the microseconds of each, or nothing when there is no sequencer.
std::vector<double> MeasureRoundTrips(int count) {
    auto echo = midi::AlsaSequencer::Open("tq5-bench-echo");
    auto sender = midi::AlsaSequencer::Open("tq5-bench-sender");
    auto receiver = midi::AlsaSequencer::Open("tq5-bench-receiver");
    if (!echo || !sender || !receiver) return {};
    const int echoIn = echo->CreateInputPort("in");
    const int echoOut = echo->CreateOutputPort("out");
    const int senderOut = sender->CreateOutputPort("out");
    const int receiverIn = receiver->CreateInputPort("in");
    const int echoClient = echo->ClientId();
    if (!sender->ConnectTo(senderOut, {echoClient, echoIn}) ||
        !receiver->ConnectFrom({echoClient, echoOut}, receiverIn)) {
        return {};
    }
    midi::AlsaSequencer& echoRef = *echo;
    const bool echoing =
        echo->StartReading([&echoRef, echoOut](const std::uint8_t* bytes, std::size_t length) {
            // A reply that can't go out shows as a lost round trip below.
            [[maybe_unused]] const bool sent = echoRef.SendSysEx(echoOut, bytes, length, 1000);
        });
    if (!echoing) return {};
    std::mutex lock;
    std::condition_variable arrived;
    int received = 0;
    const bool receiving = receiver->StartReading([&](const std::uint8_t*, std::size_t) {
        std::lock_guard guard(lock);
        ++received;
        arrived.notify_one();
    });
    if (!receiving) return {};

    const std::uint8_t request[] = {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};
    std::vector<double> us;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (!sender->SendSysEx(senderOut, request, sizeof request, 1000)) return {};
        std::unique_lock guard(lock);
        if (!arrived.wait_for(guard, std::chrono::seconds(5), [&] { return received > i; })) {
            return {};
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    receiver->StopReading();
    echo->StopReading();
    return us;
}

void BM_SequencerRoundTrip(benchmark::State& state) {
    std::vector<double> all;
    for (auto _ : state) {
        const std::vector<double> us = MeasureRoundTrips(kRoundTrips);
        if (us.empty()) {
            state.SkipWithError(
                "no ALSA sequencer: run in the guest (tools/guest/run-in-guest.sh)");
            break;
        }
        all.insert(all.end(), us.begin(), us.end());
    }
    state.counters["round_trip_p50_us"] = bench::Percentile(all, 0.50);
    state.counters["round_trip_p99_us"] = bench::Percentile(all, 0.99);
}
BENCHMARK(BM_SequencerRoundTrip)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_UpdateOverSequencer(benchmark::State& state) {
    const std::vector<double> roundTrips = MeasureRoundTrips(kRoundTrips);
    if (roundTrips.empty()) {
        return bench::SkipAll(state,
                              "no ALSA sequencer: run in the guest (tools/guest/run-in-guest.sh)");
    }
    sim::VirtualDevice device;
    sim::DevsimOptions endpointOptions;
    endpointOptions.api = sim::DevsimApi::Alsa;
    endpointOptions.clientName = "tq5-bench-device";
    sim::DeviceEndpoint endpoint(device, endpointOptions);
    std::string error;
    if (!endpoint.Open(error)) return bench::SkipAll(state, error.c_str());

    bench::RunUpdates(
        state, device, [] { return std::make_unique<midi::AlsaBackend>(); }, "TQ-5 in", "TQ-5 out",
        false, bench::Percentile(roundTrips, 0.50));
}
BENCHMARK(BM_UpdateOverSequencer)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
