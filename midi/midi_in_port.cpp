#include "midi/midi_in_port.hpp"

#include "midi/device_name.hpp"

namespace tq5::midi {

MidiInPort::MidiInPort(std::unique_ptr<InputDriver> driver) : driver_(std::move(driver)) {}

MidiInPort::~MidiInPort() {
    Close();
    queue_.Clear();
}

std::uint32_t MidiInPort::GetDeviceCount() { return driver_->GetDeviceCount(); }

std::string MidiInPort::GetDeviceName(std::uint32_t index) {
    return BoundDeviceName(driver_->GetDeviceName(index));
}

void MidiInPort::GetDeviceName(std::uint32_t index, char* destination) {
    CopyDeviceName(driver_->GetDeviceName(index), destination);
}

std::string MidiInPort::GetFullDeviceName(std::uint32_t index) {
    return WholeDeviceName(driver_->GetDeviceName(index));
}

int MidiInPort::Open() {
    std::lock_guard guard(lifecycleLock_);
    if (running_.load()) return 1;
    const bool opened = driver_->Open(
        deviceIndex_.load(),
        [this](const std::uint8_t* bytes, std::size_t length) { OnBlock(bytes, length); });
    running_.store(opened);
    return opened ? 1 : 0;
}

void MidiInPort::Close() {
    std::lock_guard guard(lifecycleLock_);
    if (!running_.load()) return;
    driver_->Close();  // once it returns, no block is delivered any more
    running_.store(false);
}

const std::uint8_t* MidiInPort::PeekReceived(std::size_t* length) {
    return queue_.PeekReceived(length);
}

void MidiInPort::PopReceived() { queue_.PopReceived(); }

void MidiInPort::SetArrivalHook(std::function<void()> hook) {
    std::lock_guard guard(hookLock_);
    arrivalHook_ = std::move(hook);
}

void MidiInPort::OnBlock(const std::uint8_t* bytes, std::size_t length) {
    // The queue copies the bytes before the entry becomes visible, so the driver may reuse
    // its buffer as soon as this returns.
    queue_.Push(bytes, length);
    std::lock_guard guard(hookLock_);
    if (arrivalHook_) arrivalHook_();
}

}  // namespace tq5::midi
