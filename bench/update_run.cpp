#include "bench/update_run.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <numeric>

#include "app/cli/console_host.hpp"
#include "app/cli/port_choice.hpp"
#include "app/port_names.hpp"
#include "app/updater_core.hpp"
#include "firmware/embedded_firmware.hpp"
#include "protocol/device_messages.hpp"
#include "sim/fault_plan.hpp"
#include "sim/flash_memory.hpp"

namespace tq5::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Micro(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

}  // namespace

UpdateRun RunUpdate(midi::MidiBackend& backend, const std::string& outputName,
                    const std::string& inputName, midi::TimerPlatform& timer, bool verify) {
    UpdateRun run;
    std::FILE* null = std::fopen("/dev/null", "w");
    if (null == nullptr) return run;
    {
        const engine::FirmwareStore& firmware = firmware::EmbeddedFirmware();
        app::cli::ConsoleHost host(null, null, false, firmware, verify);
        app::UpdaterCore core(
            app::CoreSettings{backend, firmware, engine::Timing{}, &timer, verify}, host);
        host.Attach(core.Context());
        const app::cli::PortChoice output = app::cli::ChoosePort(
            app::ListDeviceNames(core.Output()), outputName, 1, "output", "--out");
        const app::cli::PortChoice input =
            app::cli::ChoosePort(app::ListDeviceNames(core.Input()), inputName, 1, "input", "--in");
        host.Select(output.index, input.index);
        core.StartPolling();
        if (output.error.empty() && input.error.empty() && core.OpenSelectedPorts()) {
            const auto start = Clock::now();
            const double cpuBefore = ProcessCpuSeconds();
            core.StartUpdate();
            host.WaitFor([](const app::cli::ConsoleHost& h) { return h.HasOutcome(); },
                         [] { return false; });
            core.WaitForWorkers();
            run.wallMs = Micro(Clock::now() - start) / 1000.0;
            run.cpuMs = (ProcessCpuSeconds() - cpuBefore) * 1000.0;
            const auto outcome = host.UpdateOutcome();
            run.completed = outcome && outcome->completed;
            run.verified = outcome && outcome->verified;
            if (outcome) run.readBytes = outcome->readBack.readBytes;
        }
    }
    std::fclose(null);
    return run;
}

void PrepareFullUpdate(sim::VirtualDevice& device) {
    sim::InstalledFirmware older;
    older.bootVersion = "0.90";
    device.InstallFirmware(older);
    device.SetMode(sim::DeviceMode::UpdateReady);
    device.ClearTranscript();
}

// --- the timer service ----------------------------------------------------------------------

std::uint32_t CountingTimer::MinPeriod() { return midi::SystemTimerPlatform().MinPeriod(); }

void CountingTimer::BeginPeriod(std::uint32_t periodMs) {
    midi::SystemTimerPlatform().BeginPeriod(periodMs);
}

void CountingTimer::EndPeriod(std::uint32_t periodMs) {
    midi::SystemTimerPlatform().EndPeriod(periodMs);
}

std::uint32_t CountingTimer::SetPeriodicEvent(std::uint32_t periodMs, std::uint32_t resolutionMs,
                                              midi::TimerCallback callback, std::uintptr_t user) {
    // One event at a time: the poll timer's.
    callback_ = callback;
    user_ = user;
    return midi::SystemTimerPlatform().SetPeriodicEvent(
        periodMs, resolutionMs, &CountingTimer::Tick, reinterpret_cast<std::uintptr_t>(this));
}

void CountingTimer::KillEvent(std::uint32_t id) { midi::SystemTimerPlatform().KillEvent(id); }

void CountingTimer::WakeEvent(std::uint32_t id) {
    if (earlyWake_) midi::SystemTimerPlatform().WakeEvent(id);
}

void CountingTimer::Tick(std::uint32_t id, std::uint32_t message, std::uintptr_t user,
                         std::uintptr_t reserved1, std::uintptr_t reserved2) {
    auto* self = reinterpret_cast<CountingTimer*>(user);
    self->ticks_.fetch_add(1, std::memory_order_relaxed);
    self->callback_(id, message, self->user_, reserved1, reserved2);
}

// --- figures --------------------------------------------------------------------------------

Exchanges ReadExchanges(const std::vector<sim::TranscriptEntry>& transcript) {
    Exchanges x;
    bool started = false;
    bool replied = false;
    bool pauseNext = false;  // the gap after the update mode was entered holds the pause
    Clock::duration first{};
    Clock::duration lastRequest{};
    Clock::duration lastReply{};
    for (const sim::TranscriptEntry& entry : transcript) {
        if (entry.direction == sim::Direction::FromDevice) {
            x.bytesFromDevice += entry.bytes.size();
            lastReply = entry.at;
            replied = true;
            continue;
        }
        const protocol::DeviceRequest request =
            protocol::ParseRequest(entry.bytes.data(), entry.bytes.size());
        const auto type = sim::RequestTypeOf(request.kind);
        if (!type) continue;  // the updater's own answers
        x.bytesToDevice += entry.bytes.size();
        if (*type == sim::RequestType::Erase) {
            x.erasedSectors += request.size / sim::FlashMemory::kSectorSize;
        }
        if (*type == sim::RequestType::WriteBlock) ++x.writeBlocks;
        if (!started) {
            first = entry.at;
        } else if (pauseNext) {
            x.pauseMs = Micro(entry.at - lastReply) / 1000.0;
        } else {
            x.exchangeUs.push_back(Micro(entry.at - lastRequest));
            if (replied) x.overheadUs.push_back(Micro(entry.at - lastReply));
        }
        started = true;
        replied = false;
        pauseNext = *type == sim::RequestType::EnterUpdate;
        lastRequest = entry.at;
        ++x.count;
    }
    x.spanMs = Micro(lastReply - first) / 1000.0;
    return x;
}

LineModel ModelLine(const Exchanges& exchanges, double bytesPerSecond, double eraseMsPerSector,
                    double writeMsPerBlock, double updaterUsPerExchange) {
    LineModel m;
    m.lineS =
        static_cast<double>(exchanges.bytesToDevice + exchanges.bytesFromDevice) / bytesPerSecond;
    m.deviceS = (static_cast<double>(exchanges.erasedSectors) * eraseMsPerSector +
                 static_cast<double>(exchanges.writeBlocks) * writeMsPerBlock) /
                1000.0;
    m.pauseS = exchanges.pauseMs / 1000.0;
    m.updaterS = static_cast<double>(exchanges.count) * updaterUsPerExchange / 1e6;
    return m;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at),
                     values.end());
    return values[at];
}

double Mean(const std::vector<double>& values) {
    if (values.empty()) return 0;
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace tq5::bench
