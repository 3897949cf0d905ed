#include "midi/drivers/virtual/virtual_port_pair.hpp"

namespace tq5::midi {

VirtualPortPair::VirtualPortPair(std::string inputName, std::string outputName)
    : inputName_(std::move(inputName)), outputName_(std::move(outputName)) {}

VirtualPortPair::~VirtualPortPair() {
    std::lock_guard guard(farEndLock_);
    farEndOwner_.reset();
}

void VirtualPortPair::SetFarEnd(MessageSink sink) {
    if (!sink) return SetFarEnd(LineSink(), nullptr);
    SetFarEnd(
        [sink = std::move(sink)](const std::uint8_t* bytes, std::size_t length) {
            sink(bytes, length);
            return Clock::now();
        },
        nullptr);
}

void VirtualPortPair::SetFarEnd(LineSink sink, std::shared_ptr<void> owner) {
    std::lock_guard guard(farEndLock_);
    farEndOwner_.reset();  // a device's thread ends here; it sends nothing more
    farEnd_ = std::move(sink);
    farEndOwner_ = std::move(owner);
}

void VirtualPortPair::SendToInput(const std::uint8_t* bytes, std::size_t length) {
    Deliver(bytes, length, false);
}

void VirtualPortPair::SendErrorBlockToInput(const std::uint8_t* bytes, std::size_t length) {
    Deliver(bytes, length, true);
}

void VirtualPortPair::Deliver(const std::uint8_t* bytes, std::size_t length, bool error) {
    if (bytes == nullptr || length == 0) return;
    std::lock_guard guard(lock_);
    // Nobody listening: the bytes are lost, as on a cable into a closed port.
    if (inputListener_) inputListener_(std::vector<std::uint8_t>(bytes, bytes + length), error);
}

VirtualPortPair::Clock::time_point VirtualPortPair::PassToFarEnd(const std::uint8_t* bytes,
                                                                 std::size_t length) {
    {
        std::lock_guard guard(lock_);
        sent_.emplace_back(bytes, bytes + length);
    }
    std::lock_guard guard(farEndLock_);
    return farEnd_ ? farEnd_(bytes, length) : Clock::now();
}

std::vector<std::vector<std::uint8_t>> VirtualPortPair::SentMessages() const {
    std::lock_guard guard(lock_);
    return sent_;
}

bool VirtualPortPair::InputIsOpen() const {
    std::lock_guard guard(lock_);
    return static_cast<bool>(inputListener_);
}

bool VirtualPortPair::OutputIsOpen() const {
    std::lock_guard guard(lock_);
    return outputAttached_;
}

bool VirtualPortPair::AttachInput(InputListener listener) {
    std::lock_guard guard(lock_);
    if (refuseInputOpen_.load() || inputListener_) return false;
    inputListener_ = std::move(listener);
    ++inputOpens_;
    return true;
}

void VirtualPortPair::DetachInput() {
    std::lock_guard guard(lock_);
    inputListener_ = nullptr;
}

bool VirtualPortPair::AttachOutput() {
    std::lock_guard guard(lock_);
    if (refuseOutputOpen_.load() || outputAttached_) return false;
    outputAttached_ = true;
    ++outputOpens_;
    return true;
}

void VirtualPortPair::DetachOutput() {
    std::lock_guard guard(lock_);
    outputAttached_ = false;
}

}  // namespace tq5::midi
