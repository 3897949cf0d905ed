#pragma once
// MidiInPort: receives System Exclusive blocks from one input device into a first-in first-out
// queue that the reply dispatcher drains, and lists the input devices for the port list.
//
// The driver delivers blocks on its own thread; the queue (engine::ReceiveQueue) makes that
// hand-over safe, so Peek/Pop may run on the poll timer's thread at the same time. The queue
// lives across Close and a new Open: entries received before a close are still delivered.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine/state/receive_queue.hpp"
#include "midi/driver.hpp"

namespace tq5::midi {

class MidiInPort final : public engine::ReceivedSource {
public:
    explicit MidiInPort(std::unique_ptr<InputDriver> driver);
    // Closes the device, then frees every queued entry.
    ~MidiInPort() override;
    MidiInPort(const MidiInPort&) = delete;
    MidiInPort& operator=(const MidiInPort&) = delete;

    std::uint32_t GetDeviceCount();
    // Copies the device's name into `destination` (at least kDeviceNameSize bytes), cut to
    // kDeviceNameSize - 1 bytes and always terminated; empty when the name can't be read.
    void GetDeviceName(std::uint32_t index, char* destination);
    std::string GetDeviceName(std::uint32_t index);
    // The whole name, up to a NUL in it: JACK and ALSA names run longer than the bound, and
    // two of them may differ only past it.
    std::string GetFullDeviceName(std::uint32_t index);

    // The device that the next Open uses. A running port keeps its device until Close.
    void SetDeviceIndex(std::int32_t index) { deviceIndex_.store(index); }
    std::int32_t DeviceIndex() const { return deviceIndex_.load(); }

    // 1 when input is running (at once, without touching the device, if it already was);
    // 0 when the device can't be opened. The device index is kept either way.
    int Open();
    // Stops input; does nothing when not running. Queued entries stay queued.
    void Close();
    bool IsRunning() const { return running_.load(); }
    // As MidiOutPort's.
    std::string OpenProblem() { return driver_->OpenProblem(); }
    bool DeviceGone() { return driver_->DeviceGone(); }

    // The oldest entry's bytes (and length), or nullptr when nothing is queued. The pointer
    // stays valid until that entry is popped or the port is destroyed.
    const std::uint8_t* PeekReceived(std::size_t* length) override;
    const std::uint8_t* PeekReceived() { return PeekReceived(nullptr); }
    void PopReceived() override;
    std::size_t QueuedCount() const { return queue_.Size(); }

    // Called on the driver's thread after each block has been queued, e.g. to wake the poll
    // timer (CDxMTimer::RequestTick). Replacing or clearing the hook waits for a call in
    // progress, so whatever the old hook uses may be destroyed once this returns.
    void SetArrivalHook(std::function<void()> hook);

private:
    void OnBlock(const std::uint8_t* bytes, std::size_t length);

    std::unique_ptr<InputDriver> driver_;
    std::mutex lifecycleLock_;  // Open and Close may come from the GUI and a worker thread
    std::atomic<std::int32_t> deviceIndex_{0};
    std::atomic<bool> running_{false};
    engine::ReceiveQueue queue_;
    std::mutex hookLock_;
    std::function<void()> arrivalHook_;
};

}  // namespace tq5::midi
