#pragma once
// The virtual TQ-5: the device's side of the protocol, with a 4 MiB NOR flash, its modes,
// line-rate and flash timing, scripted or random faults, and a transcript. It receives
// messages from the updater and sends its replies through a sink on a thread of its own,
// like a device on a cable.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/seams/firmware_images.hpp"
#include "protocol/messages.hpp"
#include "sim/device_timing.hpp"
#include "sim/fault_plan.hpp"
#include "sim/installed_firmware.hpp"
#include "sim/transcript.hpp"

namespace tq5::sim {

enum class DeviceMode {
    Normal,        // running its firmware: refuses to enter the update mode (status 11)
    UpdateReady,   // booted into firmware update mode by the user
    FlashWriting,  // entered the flash-writing mode: erase, write and read work
};

struct DeviceOptions {
    protocol::DeviceId id{0x6E, 0x00, 0x05, 0x00};
    DeviceMode mode = DeviceMode::UpdateReady;
    std::uint32_t seed = 1;      // for random faults
    InstalledFirmware firmware;  // what the flash holds at start
    DeviceTiming timing;         // instant unless set
    // Answer FinishRequest with the completion notice (command 0x02) instead of status 0.
    bool finishWithCompletionNotice = false;
    // Send the completion notice on its own right after acknowledging the plan's last block
    // (the system block at 0xD2000), and leave the finish request unanswered.
    bool earlyCompletionNotice = false;
    // Refuse a write block over flash that is not erased, even with the bytes it holds (a
    // NOR chip takes those again; a device that checks first does not).
    bool strictWrites = false;
    // Software revision, bytes 10 to 13 of the identity reply.
    std::array<std::uint8_t, 4> revision{'1', '0', '0', '0'};
    std::vector<Fault> faults;            // scripted faults, as if added with AddFault
    RandomFaults randomFaults;            // drawn from `seed`
    std::size_t transcriptLimit = 20000;  // entries kept; the oldest go first
};

// What the device can send unasked; the updater answers most of them.
enum class UnsolicitedMessage {
    IdentityRequest,  // answered with the updater's stored identity reply
    Command01,        // commands 0x01, 0x04, 0x05: answered with an acknowledge
    Command04,
    Command05,
    Command03,         // not answered
    UnknownCommand,    // command 0x44: answered with an error reply
    UnknownUniversal,  // universal 06 03: answered with an error reply
};

class VirtualDevice {
public:
    using Clock = std::chrono::steady_clock;

    // Receives each reply of the device (one whole SysEx message) on the device's thread.
    // The sink must not call SetReplySink; it may call Receive.
    using ReplySink = std::function<void(const std::uint8_t* bytes, std::size_t length)>;

    explicit VirtualDevice(DeviceOptions options = {});
    ~VirtualDevice();  // stops the device's thread; no sink call after it returns
    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    // Replaces the sink; once it returns the old sink is not called again.
    void SetReplySink(ReplySink sink);

    // One message from the updater, in any thread; returns at once (queued for the device).
    void Receive(const std::uint8_t* bytes, std::size_t length);

    // The same, and tells when the message's last byte has arrived over the device's line
    // (now when the line is unlimited): a driver whose send returns once the bytes have left
    // waits until then.
    Clock::time_point ReceiveOverLine(const std::uint8_t* bytes, std::size_t length);

    // Blocks until every received message has been handled and every reply sent (a delayed
    // reply included). Not from inside the sink or the observer.
    void WaitIdle();

    // Flash access for tests and tq5-devsim.
    std::vector<std::uint8_t> ReadFlash(std::uint32_t address, std::uint32_t length) const;
    // Factory write: stores the bytes as they are (no erase needed). False, writing nothing,
    // when the range leaves the flash.
    [[nodiscard]] bool WriteFlash(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
    // Erases the flash and installs `firmware` on it.
    void InstallFirmware(const InstalledFirmware& firmware);
    // Version fields and the state of each image region, compared with `images`.
    FlashState InspectFlash(const engine::FirmwareStore& images) const;

    DeviceMode Mode() const;
    void SetMode(DeviceMode mode);  // e.g. the user booting it into update mode
    protocol::DeviceId Id() const;
    void SetDeviceId(const protocol::DeviceId& id);
    void SetTiming(const DeviceTiming& timing);

    // --- faults -------------------------------------------------------------------------
    void AddFault(const Fault& fault);
    void SetRandomFaults(const RandomFaults& random);
    void ClearFaults();
    // Well-formed requests of that type addressed to this device so far.
    std::uint32_t RequestCount(RequestType type) const;

    // --- traffic the device starts ----------------------------------------------------------
    // Sent from the device's thread, after what is already queued, over the same line.
    void SendUnsolicited(UnsolicitedMessage message);
    void SendRaw(const std::vector<std::uint8_t>& bytes);
    // The updater's answers that reached the device (its status messages and identity
    // replies), in order of arrival.
    std::vector<std::vector<std::uint8_t>> UpdaterAnswers() const;
    // Waits until at least `count` answers have arrived, or `limit` has passed; true if so.
    [[nodiscard]] bool WaitForUpdaterAnswers(std::size_t count,
                                             std::chrono::milliseconds limit) const;

    // --- transcript -----------------------------------------------------------------------
    std::vector<TranscriptEntry> Transcript() const;
    void ClearTranscript();
    // Called on the device's thread with each new entry, outside the device's lock; it may
    // call the device but not SetTranscriptObserver.
    using TranscriptObserver = std::function<void(const TranscriptEntry& entry)>;
    void SetTranscriptObserver(TranscriptObserver observer);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tq5::sim
