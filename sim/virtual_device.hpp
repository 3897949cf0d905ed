#pragma once
// The virtual TQ-5: the device's side of the protocol, with a 4 MiB NOR flash, its modes,
// line-rate and flash timing, scripted or random faults, and a transcript. It receives
// messages from the updater and sends its replies through a sink on a thread of its own,
// like a device on a cable.
//
// (Interface agreed between the simulator, the virtual MIDI driver and the engine tests;
// extend it, but keep these members.)

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "protocol/messages.hpp"

namespace tq5::sim {

enum class DeviceMode {
    Normal,        // running its firmware: refuses to enter the update mode (status 11)
    UpdateReady,   // booted into firmware update mode by the user
    FlashWriting,  // entered the flash-writing mode: erase, write and read work
};

struct DeviceOptions {
    protocol::DeviceId id{0x6E, 0x00, 0x05, 0x00};
    DeviceMode mode = DeviceMode::UpdateReady;
    std::uint32_t seed = 1;  // for random faults
};

class VirtualDevice {
public:
    // Receives each reply of the device (one whole SysEx message) on the device's thread.
    using ReplySink = std::function<void(const std::uint8_t* bytes, std::size_t length)>;

    explicit VirtualDevice(DeviceOptions options = {});
    ~VirtualDevice();  // stops the device's thread; no sink call after it returns
    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    void SetReplySink(ReplySink sink);

    // One message from the updater, in any thread; returns at once (queued for the device).
    void Receive(const std::uint8_t* bytes, std::size_t length);

    // Blocks until every received message has been handled and every reply sent.
    void WaitIdle();

    // Flash access for tests and tq5-devsim.
    std::vector<std::uint8_t> ReadFlash(std::uint32_t address, std::uint32_t length) const;

    DeviceMode Mode() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tq5::sim
