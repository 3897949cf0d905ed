// A full firmware update against the virtual TQ-5 with an unlimited line and no device time,
// so that what is measured is the updater itself: the worker's stop-and-wait exchanges, the
// reply dispatcher on the product's 1 ms poll timer (CDxMTimer), packing and CRC.
//
// Figures per update: wall time, CPU time of the whole process (every thread), and the time
// per exchange (from one request leaving to the next one leaving; the 500 ms pause after the
// device entered its update mode is left out), as the 50th and 99th percentile.
//
//   cmake --preset release && cmake --build build/release --target update_bench
//   build/release/bench/update_bench

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/dispatcher.hpp"
#include "engine/open_ports.hpp"
#include "engine/update_worker.hpp"
#include "firmware/embedded_firmware.hpp"
#include "midi/dx_mtimer.hpp"
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
    void PostVersionCheckDone(std::int32_t) override {}

    bool failed = false;
    bool completed = false;

private:
    engine::UpdateContext& context_;
};

class NoPorts final : public engine::MidiPorts {
public:
    void CloseOutput() override {}
    int OpenOutput(std::int32_t) override { return 1; }
    void CloseInput() override {}
    void SetInputDeviceIndex(std::int32_t) override {}
    int OpenInput() override { return 1; }
};

// The output line into the device; notes when each request left.
class TimedLine final : public engine::SysExOutput {
public:
    explicit TimedLine(sim::VirtualDevice& device) : device_(device) { sent_.reserve(1024); }
    int SendLong(const std::uint8_t* bytes, std::uint32_t length) override {
        device_.Receive(bytes, length);
        sent_.push_back({Clock::now(), length > 4 ? bytes[4] : std::uint8_t{0}});
        return 1;
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

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[at];
}

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
        const engine::Procedures env{*context, host, engine::EmbeddedFirmware(), engine::Timing{},
                                     session, versions};
        Poll poll{*context, queue};
        midi::CDxMTimer timer;
        timer.Start(1, &Poll::Tick, reinterpret_cast<std::uintptr_t>(&poll));
        if (wakeOnArrival) queue.SetArrivalHook([&timer] { timer.RequestTick(); });
        host.LockControls();
        context->Event().Reset();
        state.ResumeTiming();

        const double cpuBefore = ProcessCpuSeconds();
        std::thread worker([&env] { engine::UpdateWorker(env); });
        worker.join();
        cpuSeconds += ProcessCpuSeconds() - cpuBefore;

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
    state.counters["exchange_p50_us"] = Percentile(exchangesUs, 0.50);
    state.counters["exchange_p99_us"] = Percentile(exchangesUs, 0.99);
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

}  // namespace

BENCHMARK_MAIN();
