#pragma once
// What the update benchmarks share: one firmware update run as tq5-updater runs it (the
// dialog's core with its ports, 1 ms poll timer and early wake, the console host writing to
// /dev/null), a timer service that can leave the early wake out and counts ticks, and the
// figures read off the virtual TQ-5's transcript.
//
// The transcript times each message where the device sees it: a request when its last byte
// has arrived, a reply when it leaves. So the gap from a reply leaving to the next request
// arriving is the updater's own time for that exchange (dispatch, worker wake-up, building,
// packing and CRC, sending) plus the line both ways, which is free on the virtual driver.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "midi/driver.hpp"
#include "midi/timer_platform.hpp"
#include "sim/transcript.hpp"
#include "sim/virtual_device.hpp"

namespace tq5::bench {

struct UpdateRun {
    bool completed = false;       // the update's outcome says completed
    double wallMs = 0;            // from Execute to the controls being released
    double cpuMs = 0;             // CPU time of the whole process (every thread) meanwhile
    bool verified = false;        // the flash was read back and found to hold the images
    std::uint32_t readBytes = 0;  // the read size the read-back check used
};

// One update on the ports whose names contain `outputName` and `inputName`, as
// `tq5-updater --out OUTPUT --in INPUT update` does it (`verify`: with the read-back check,
// as by default; without it, as with --no-verify). `timer` is the poll's timer service.
UpdateRun RunUpdate(midi::MidiBackend& backend, const std::string& outputName,
                    const std::string& inputName, midi::TimerPlatform& timer, bool verify);

// Sets the device up for a whole plan: an older boot loader (so every row runs), the update
// mode, and an empty transcript.
void PrepareFullUpdate(sim::VirtualDevice& device);

// The system's timer service, with the early wake switched on or off, counting its ticks.
class CountingTimer final : public midi::TimerPlatform {
public:
    explicit CountingTimer(bool earlyWake) : earlyWake_(earlyWake) {}
    std::uint32_t MinPeriod() override;
    void BeginPeriod(std::uint32_t periodMs) override;
    void EndPeriod(std::uint32_t periodMs) override;
    std::uint32_t SetPeriodicEvent(std::uint32_t periodMs, std::uint32_t resolutionMs,
                                   midi::TimerCallback callback, std::uintptr_t user) override;
    void KillEvent(std::uint32_t id) override;
    void WakeEvent(std::uint32_t id) override;

    std::uint64_t Ticks() const { return ticks_.load(); }

private:
    static void Tick(std::uint32_t id, std::uint32_t message, std::uintptr_t user,
                     std::uintptr_t reserved1, std::uintptr_t reserved2);

    const bool earlyWake_;
    midi::TimerCallback callback_ = nullptr;
    std::uintptr_t user_ = 0;
    std::atomic<std::uint64_t> ticks_{0};
};

// The exchanges of one update, from the device's transcript.
struct Exchanges {
    std::size_t count = 0;           // requests the device answered
    double spanMs = 0;               // first request arriving to last reply leaving
    double pauseMs = 0;              // the pause after the device entered its update mode
    std::vector<double> exchangeUs;  // request to next request, the pause left out
    std::vector<double> overheadUs;  // reply leaving to next request arriving, the same
    std::uint64_t bytesToDevice = 0;
    std::uint64_t bytesFromDevice = 0;
    std::uint64_t erasedSectors = 0;  // 4 KiB sectors the erase requests asked for
    std::uint64_t writeBlocks = 0;
};
Exchanges ReadExchanges(const std::vector<sim::TranscriptEntry>& transcript);

// The same update on a real line: each way at `bytesPerSecond`, `eraseMsPerSector` per 4 KiB
// sector erased, `writeMsPerBlock` per block written, the pause, and the updater's own time
// per exchange. Seconds.
struct LineModel {
    double lineS = 0;
    double deviceS = 0;
    double pauseS = 0;
    double updaterS = 0;
    double TotalS() const { return lineS + deviceS + pauseS + updaterS; }
    double UpdaterShare() const { return updaterS / TotalS(); }
};
LineModel ModelLine(const Exchanges& exchanges, double bytesPerSecond, double eraseMsPerSector,
                    double writeMsPerBlock, double updaterUsPerExchange);

double Percentile(std::vector<double> values, double p);
double Mean(const std::vector<double>& values);
double ProcessCpuSeconds();

}  // namespace tq5::bench
