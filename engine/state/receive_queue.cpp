#include "engine/state/receive_queue.hpp"

namespace tq5::engine {

void ReceiveQueue::Push(const std::uint8_t* bytes, std::size_t length) {
    if (bytes == nullptr || length == 0) return;
    std::vector<std::uint8_t> entry(bytes, bytes + length);  // copied before it becomes visible
    std::function<void()> hook;
    {
        std::lock_guard guard(lock_);
        entries_.push_back(std::move(entry));
        hook = arrivalHook_;
    }
    if (hook) hook();
}

const std::uint8_t* ReceiveQueue::PeekReceived(std::size_t* length) {
    std::lock_guard guard(lock_);
    if (entries_.empty()) {
        if (length != nullptr) *length = 0;
        return nullptr;
    }
    if (length != nullptr) *length = entries_.front().size();
    return entries_.front().data();
}

void ReceiveQueue::PopReceived() {
    std::vector<std::uint8_t> freed;  // freed outside the lock
    std::lock_guard guard(lock_);
    if (entries_.empty()) return;
    freed.swap(entries_.front());
    entries_.pop_front();
}

std::size_t ReceiveQueue::Size() const {
    std::lock_guard guard(lock_);
    return entries_.size();
}

void ReceiveQueue::Clear() {
    std::lock_guard guard(lock_);
    entries_.clear();
}

void ReceiveQueue::SetArrivalHook(std::function<void()> hook) {
    std::lock_guard guard(lock_);
    arrivalHook_ = std::move(hook);
}

}  // namespace tq5::engine
