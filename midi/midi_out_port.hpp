#pragma once
// MidiOutPort: sends one whole System Exclusive message at a time to one output device and
// returns when the driver has finished with the bytes; lists the output devices.
//
// Sends from the worker and from the dispatcher are serialised by a lock in the port, so two
// messages never interleave on the line. A send gives up after a bound (the driver never
// finishing must not hang its thread), and Close on another thread ends a waiting send.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/seams/sysex_output.hpp"
#include "midi/driver.hpp"

namespace tq5::midi {

class MidiOutPort final : public engine::SysExOutput {
public:
    explicit MidiOutPort(std::unique_ptr<OutputDriver> driver,
                         std::uint32_t sendTimeoutMs = kSendTimeoutMs);
    ~MidiOutPort() override;
    MidiOutPort(const MidiOutPort&) = delete;
    MidiOutPort& operator=(const MidiOutPort&) = delete;

    std::uint32_t GetDeviceCount();
    // As MidiInPort::GetDeviceName: bounded to kDeviceNameSize bytes, terminator included.
    void GetDeviceName(std::uint32_t index, char* destination);
    std::string GetDeviceName(std::uint32_t index);
    // The whole name, up to a NUL in it: JACK and ALSA names run longer than the bound, and
    // two of them may differ only past it.
    std::string GetFullDeviceName(std::uint32_t index);

    // 1 when device `index` is open: at once if it already was; otherwise any other open
    // device is closed first. The index is stored even when the open fails (then 0).
    int Open(std::int32_t index);
    // 1 if a device was open and has been closed, 0 if none was open.
    int Close();
    bool IsOpen() const { return open_.load(); }
    // Why the last open failed, for the user; empty when "Can't open MIDI Out device." says
    // all there is.
    std::string OpenProblem() { return driver_->OpenProblem(); }
    // True once the device opened last has vanished (unplugged), until the next open.
    bool DeviceGone() { return driver_->DeviceGone(); }
    std::int32_t DeviceIndex() const { return deviceIndex_.load(); }

    // True once the driver has finished with the bytes; false when no device is open (no
    // driver call is made), when the driver refuses the message, or when it has not finished
    // in time.
    bool SendLong(const std::uint8_t* bytes, std::uint32_t length) override;
    // As the driver says.
    bool SendReturnsBeforeLineTime() const override;

private:
    std::unique_ptr<OutputDriver> driver_;
    const std::uint32_t sendTimeoutMs_;
    std::mutex lifecycleLock_;  // Open and Close; never held across a send
    std::mutex sendLock_;       // one message on the line at a time
    std::atomic<bool> open_{false};
    std::atomic<std::int32_t> deviceIndex_{0};
};

}  // namespace tq5::midi
