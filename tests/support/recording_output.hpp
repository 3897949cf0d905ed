#pragma once
// A SysExOutput that keeps every message sent through it, and can be told to fail or to
// return before the bytes have left.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/seams/sysex_output.hpp"

namespace tq5::test {

class RecordingOutput : public engine::SysExOutput {
public:
    bool SendLong(const std::uint8_t* bytes, std::uint32_t length) override {
        if (fail.load()) return false;
        std::lock_guard guard(lock_);
        sent_.emplace_back(bytes, bytes + length);
        return true;
    }

    std::vector<std::vector<std::uint8_t>> Sent() const {
        std::lock_guard guard(lock_);
        return sent_;
    }

    bool SendReturnsBeforeLineTime() const override { return returnsEarly.load(); }

    std::atomic<bool> fail{false};
    // Sends return before the bytes have left, as through a buffering MIDI system.
    std::atomic<bool> returnsEarly{false};

private:
    mutable std::mutex lock_;
    std::vector<std::vector<std::uint8_t>> sent_;
};

}  // namespace tq5::test
