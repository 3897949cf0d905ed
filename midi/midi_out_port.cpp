#include "midi/midi_out_port.hpp"

#include "midi/device_name.hpp"

namespace tq5::midi {

MidiOutPort::MidiOutPort(std::unique_ptr<OutputDriver> driver, std::uint32_t sendTimeoutMs)
    : driver_(std::move(driver)), sendTimeoutMs_(sendTimeoutMs) {}

MidiOutPort::~MidiOutPort() {
    Close();
    // A send still in progress on another thread has been ended by Close; wait for it to
    // leave the driver before the driver goes.
    std::lock_guard guard(sendLock_);
}

std::uint32_t MidiOutPort::GetDeviceCount() { return driver_->GetDeviceCount(); }

std::string MidiOutPort::GetDeviceName(std::uint32_t index) {
    return BoundDeviceName(driver_->GetDeviceName(index));
}

void MidiOutPort::GetDeviceName(std::uint32_t index, char* destination) {
    CopyDeviceName(driver_->GetDeviceName(index), destination);
}

std::string MidiOutPort::GetFullDeviceName(std::uint32_t index) {
    return WholeDeviceName(driver_->GetDeviceName(index));
}

int MidiOutPort::Open(std::int32_t index) {
    std::lock_guard guard(lifecycleLock_);
    if (open_.load()) {
        if (deviceIndex_.load() == index) return 1;
        open_.store(false);
        driver_->Close();
    }
    deviceIndex_.store(index);
    const bool opened = driver_->Open(index);
    open_.store(opened);
    return opened ? 1 : 0;
}

int MidiOutPort::Close() {
    std::lock_guard guard(lifecycleLock_);
    if (!open_.load()) return 0;
    open_.store(false);
    // Not under sendLock_: closing must end a send that is waiting for the driver.
    driver_->Close();
    return 1;
}

bool MidiOutPort::SendLong(const std::uint8_t* bytes, std::uint32_t length) {
    if (bytes == nullptr || length == 0) return false;
    std::lock_guard guard(sendLock_);
    if (!open_.load()) return false;
    // A Close between the check and the send is answered by the driver: a closed driver
    // refuses the message, and a close during the wait ends it.
    return driver_->Send(bytes, length, sendTimeoutMs_);
}

bool MidiOutPort::SendReturnsBeforeLineTime() const { return driver_->SendReturnsBeforeLineTime(); }

}  // namespace tq5::midi
