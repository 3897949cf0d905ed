// A full firmware update against the virtual TQ-5 with an unlimited line and no device time,
// so that what is measured is the updater itself, at two depths:
//
//   BM_FullUpdate  the engine alone: the worker's stop-and-wait exchanges straight into the
//                  device, the reply dispatcher on the product's 1 ms poll timer (CDxMTimer),
//                  packing and CRC. The floor of what the layers above can reach.
//   BM_Update      the update as tq5-updater runs it: the dialog's core with its ports on the
//                  in-process MIDI driver, its poll timer and the console host.
//
// BM_FullUpdate/boot:B/wake:W: B = 1 when the device's boot loader is older (936 exchanges
// instead of 885); W = 1 when a reply also wakes the poll at once, as the dialog wires it.
// Counters: requests, cpu_ms (every thread), exchange_p50/p99_us (one request leaving to the
// next one leaving; the 500 ms pause after the device entered its update mode is left out).
//
//   BM_Update/wake:1/line:0   instant device, unlimited line; the poll wakes early on arrival
//   BM_Update/wake:0/line:0   the same on the plain 1 ms poll
//   BM_Update/wake:1/line:10  the device on a 3,125 B/s line with 50 ms per 4 KiB sector
//                             erased and 5 ms per block written, all times scaled by 0.01
//
// BM_Update counters (per update): exchanges; wall_ms (Execute to release) and cpu_ms (all
// threads); exchange_p50/p99_us, request to next request as the device sees them;
// updater_p50/p99/mean_us, reply leaving the device to the next request arriving (the
// updater's own time, instant device only, the pause left out). For it, model_s and
// updater_share_pct put the measured time on a real line at full scale: every message's
// bytes at 3,125 B/s, 50 ms per sector erased, 5 ms per block written, the pause, and the
// mean updater time per exchange (model_line_s and model_device_s are two of its parts). For
// the scaled line, predicted_ms is that model's line, device and pause time at the scale, and
// unexplained_us_per_exchange is what the measured wall time has beyond it, per exchange:
// the updater's time on a timed line, plus the device's own timer slack.
//
//   cmake --preset release && cmake --build build/release --target update_bench
//   build/release/bench/update_bench

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

#include "bench/update_run.hpp"
#include "engine/procedures/open_ports.hpp"
#include "engine/procedures/update_worker.hpp"
#include "engine/state/dispatcher.hpp"
#include "firmware/embedded_firmware.hpp"
#include "midi/drivers/virtual/virtual_backend.hpp"
#include "midi/dx_mtimer.hpp"
#include "sim/port_pair_device.hpp"
#include "sim/virtual_device.hpp"

namespace {

using namespace tq5;
using Clock = std::chrono::steady_clock;

// A window that shows nothing; it only keeps the busy flag and notes how the update ended.
class QuietHost final : public engine::Host {
public:
    explicit QuietHost(engine::UpdateContext& context) : context_(context) {}
    void ShowMessageBox(std::string_view, std::string_view, engine::MessageIcon) override {
        failed = true;
    }
    void SetStatusText(std::string_view) override {}
    void SetCounterText(std::string_view) override {}
    void SetProgressRange(std::int32_t) override {}
    void SetProgressPos(std::int32_t) override {}
    void LockControls() override { context_.SetBusy(true); }
    void ReleaseControls() override { context_.SetBusy(false); }
    void EnableActions(bool on) override { completed = !on; }
    std::int32_t GetSelectedOutput() override { return 0; }
    std::int32_t GetSelectedInput() override { return 0; }
    void PostVersionCheckDone(bool) override {}

    bool failed = false;
    bool completed = false;

private:
    engine::UpdateContext& context_;
};

class NoPorts final : public engine::MidiPorts {
public:
    void CloseOutput() override {}
    bool OpenOutput(std::int32_t) override { return true; }
    void CloseInput() override {}
    void SetInputDeviceIndex(std::int32_t) override {}
    bool OpenInput() override { return true; }
};

// The output line into the device; notes when each request left.
class TimedLine final : public engine::SysExOutput {
public:
    explicit TimedLine(sim::VirtualDevice& device) : device_(device) { sent_.reserve(1024); }
    bool SendLong(const std::uint8_t* bytes, std::uint32_t length) override {
        device_.Receive(bytes, length);
        sent_.push_back({Clock::now(), length > 4 ? bytes[4] : std::uint8_t{0}});
        return true;
    }
    struct Sent {
        Clock::time_point at;
        std::uint8_t command;
    };
    // Only the worker sends during an update (the device starts nothing), so no lock.
    const std::vector<Sent>& Sends() const { return sent_; }

private:
    sim::VirtualDevice& device_;
    std::vector<Sent> sent_;
};

struct Poll {
    static void Tick(std::uint32_t, std::uint32_t, std::uintptr_t user, std::uintptr_t,
                     std::uintptr_t) {
        auto* self = reinterpret_cast<Poll*>(user);
        engine::DispatchReplies(self->context, self->queue);
    }
    engine::UpdateContext& context;
    engine::ReceiveQueue& queue;
};

// state.range(0): 1 = the device's boot loader is older (927 blocks), 0 = current (877).
// state.range(1): 1 = a reply also wakes the poll at once, as the dialog wires it.
void BM_FullUpdate(benchmark::State& state) {
    const bool withBoot = state.range(0) != 0;
    const bool wakeOnArrival = state.range(1) != 0;
    std::vector<double> exchangesUs;
    double cpuSeconds = 0;
    std::size_t requests = 0;
    bool allCompleted = true;

    for (auto _ : state) {
        state.PauseTiming();
        sim::DeviceOptions options;  // instant: unlimited line, no flash time
        if (withBoot) options.firmware.bootVersion = "0.90";
        auto device = std::make_unique<sim::VirtualDevice>(options);
        auto context = std::make_unique<engine::UpdateContext>();
        engine::ReceiveQueue queue;
        QuietHost host(*context);
        NoPorts ports;
        engine::PortSession session(ports);
        engine::VersionStrings versions;
        TimedLine line(*device);
        context->SetOutput(&line);
        device->SetReplySink(
            [&queue](const std::uint8_t* bytes, std::size_t length) { queue.Push(bytes, length); });
        const engine::ProcedureEnv env{*context,         host,    firmware::EmbeddedFirmware(),
                                       engine::Timing{}, session, versions};
        Poll poll{*context, queue};
        midi::CDxMTimer timer;
        timer.Start(1, &Poll::Tick, reinterpret_cast<std::uintptr_t>(&poll));
        if (wakeOnArrival) queue.SetArrivalHook([&timer] { timer.RequestTick(); });
        host.LockControls();
        context->Event().Reset();
        state.ResumeTiming();

        const double cpuBefore = bench::ProcessCpuSeconds();
        std::thread worker([&env] { engine::UpdateWorker(env); });
        worker.join();
        cpuSeconds += bench::ProcessCpuSeconds() - cpuBefore;

        state.PauseTiming();
        queue.SetArrivalHook(nullptr);
        timer.Stop();
        device->SetReplySink({});
        allCompleted = allCompleted && host.completed && !host.failed;
        const auto& sends = line.Sends();
        requests += sends.size();
        for (std::size_t i = 1; i < sends.size(); ++i) {
            if (sends[i - 1].command == protocol::kCmdEnterUpdate) continue;  // the 500 ms pause
            exchangesUs.push_back(
                std::chrono::duration<double, std::micro>(sends[i].at - sends[i - 1].at).count());
        }
        state.ResumeTiming();
    }

    if (!allCompleted) state.SkipWithError("an update did not complete");
    const auto n = static_cast<double>(state.iterations());
    state.counters["requests"] = static_cast<double>(requests) / n;
    state.counters["cpu_ms"] = cpuSeconds * 1000.0 / n;
    state.counters["exchange_p50_us"] = bench::Percentile(exchangesUs, 0.50);
    state.counters["exchange_p99_us"] = bench::Percentile(exchangesUs, 0.99);
}

BENCHMARK(BM_FullUpdate)
    ->ArgNames({"boot", "wake"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

constexpr double kLineBytesPerSecond = 3125;  // 31,250 baud, ten bits a byte
constexpr double kEraseMsPerSector = 50;
constexpr double kWriteMsPerBlock = 5;

void BM_Update(benchmark::State& state) {
    const bool earlyWake = state.range(0) != 0;
    const double lineScale = static_cast<double>(state.range(1)) / 1000.0;
    const bool verify = state.range(2) != 0;
    bench::CountingTimer timer(earlyWake);
    std::vector<double> exchangeUs;
    std::vector<double> updaterUs;
    double wallMs = 0;
    double cpuMs = 0;
    bench::Exchanges last;
    bool completed = true;

    for (auto _ : state) {
        midi::VirtualMidiBackend backend;
        sim::DeviceOptions options;
        options.firmware.bootVersion = "0.90";  // older boot loader: every row runs
        if (lineScale > 0) {
            options.timing = {static_cast<std::uint32_t>(kLineBytesPerSecond),
                              static_cast<std::uint32_t>(kEraseMsPerSector),
                              static_cast<std::uint32_t>(kWriteMsPerBlock), lineScale};
        }
        sim::VirtualDevice& device = sim::HostDevice(backend.AddPair("TQ-5", "TQ-5"), options);

        const bench::UpdateRun run = bench::RunUpdate(backend, "TQ-5", "TQ-5", timer, verify);
        state.SetIterationTime(run.wallMs / 1000.0);
        completed = completed && run.completed;
        wallMs += run.wallMs;
        cpuMs += run.cpuMs;
        last = bench::ReadExchanges(device.Transcript());
        exchangeUs.insert(exchangeUs.end(), last.exchangeUs.begin(), last.exchangeUs.end());
        updaterUs.insert(updaterUs.end(), last.overheadUs.begin(), last.overheadUs.end());
    }
    if (!completed) state.SkipWithError("an update did not complete");

    const auto n = static_cast<double>(state.iterations());
    state.counters["exchanges"] = static_cast<double>(last.count);
    state.counters["wall_ms"] = wallMs / n;
    state.counters["cpu_ms"] = cpuMs / n;
    state.counters["exchange_p50_us"] = bench::Percentile(exchangeUs, 0.50);
    state.counters["exchange_p99_us"] = bench::Percentile(exchangeUs, 0.99);
    if (lineScale == 0) {
        state.counters["updater_p50_us"] = bench::Percentile(updaterUs, 0.50);
        state.counters["updater_p99_us"] = bench::Percentile(updaterUs, 0.99);
        state.counters["updater_mean_us"] = bench::Mean(updaterUs);
        const bench::LineModel model = bench::ModelLine(
            last, kLineBytesPerSecond, kEraseMsPerSector, kWriteMsPerBlock, bench::Mean(updaterUs));
        state.counters["model_s"] = model.TotalS();
        state.counters["model_line_s"] = model.lineS;
        state.counters["model_device_s"] = model.deviceS;
        state.counters["updater_share_pct"] = model.UpdaterShare() * 100.0;
    } else {
        // On a timed line a request arrives only once its last byte has crossed it.
        const bench::LineModel unscaled =
            bench::ModelLine(last, kLineBytesPerSecond, kEraseMsPerSector, kWriteMsPerBlock, 0);
        const double predictedMs =
            ((unscaled.lineS + unscaled.deviceS) * lineScale + unscaled.pauseS) * 1000.0;
        state.counters["predicted_ms"] = predictedMs;
        state.counters["unexplained_us_per_exchange"] =
            (wallMs / n - predictedMs) * 1000.0 / static_cast<double>(last.count);
    }
}

BENCHMARK(BM_Update)
    ->ArgNames({"wake", "line", "verify"})
    ->Args({1, 0, 0})
    ->Args({0, 0, 0})
    ->Args({1, 0, 1})
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Update)
    ->ArgNames({"wake", "line", "verify"})
    ->Args({1, 10, 0})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
