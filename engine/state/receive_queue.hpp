#pragma once
// First-in first-out queue of received SysEx blocks. One producer (the MIDI input thread),
// one consumer (the dispatcher). Each entry keeps its length, so the consumer never reads past
// the bytes that arrived. A pointer from Peek stays valid until that entry is popped.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace tq5::engine {

// What the dispatcher needs of a source of received messages.
class ReceivedSource {
public:
    virtual ~ReceivedSource() = default;
    // The oldest entry's bytes and length, or nullptr (length 0) when nothing is queued.
    virtual const std::uint8_t* PeekReceived(std::size_t* length) = 0;
    // Removes and frees the oldest entry; nothing when the queue is empty.
    virtual void PopReceived() = 0;
};

class ReceiveQueue final : public ReceivedSource {
public:
    // Copies `length` bytes into a new entry at the tail. Empty blocks are not queued.
    void Push(const std::uint8_t* bytes, std::size_t length);

    const std::uint8_t* PeekReceived(std::size_t* length) override;
    void PopReceived() override;

    std::size_t Size() const;
    void Clear();

    // Called after each push (on the producer's thread), e.g. to wake the poll early.
    void SetArrivalHook(std::function<void()> hook);

private:
    mutable std::mutex lock_;
    // std::deque never moves its elements on push_back/pop_front, so the front entry's
    // bytes stay where Peek found them while the producer appends.
    std::deque<std::vector<std::uint8_t>> entries_;
    std::function<void()> arrivalHook_;
};

}  // namespace tq5::engine
