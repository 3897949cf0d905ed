#pragma once
// Drivers that record what the ports ask of them, for the rules that a real device can't
// show: which index reached the platform, whether a call was made at all, overlapping sends.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "midi/driver.hpp"

namespace tq5::test {

struct OutputCalls {
    std::atomic<int> opens{0};
    std::atomic<int> closes{0};
    std::atomic<int> sends{0};
    std::atomic<std::int32_t> lastOpenIndex{0};
    std::atomic<int> inFlight{0};
    std::atomic<int> maxInFlight{0};
};

class RecordingOutputDriver final : public midi::OutputDriver {
public:
    explicit RecordingOutputDriver(OutputCalls& calls, bool openSucceeds = true,
                                   std::chrono::microseconds sendTime = {})
        : calls_(calls), openSucceeds_(openSucceeds), sendTime_(sendTime) {}

    std::uint32_t GetDeviceCount() override { return 1; }
    std::string GetDeviceName(std::uint32_t) override { return "Recorder"; }
    bool Open(std::int32_t index) override {
        ++calls_.opens;
        calls_.lastOpenIndex = index;
        return openSucceeds_;
    }
    void Close() override { ++calls_.closes; }
    bool Send(const std::uint8_t*, std::uint32_t, std::uint32_t) override {
        ++calls_.sends;
        const int now = ++calls_.inFlight;
        int seen = calls_.maxInFlight.load();
        while (now > seen && !calls_.maxInFlight.compare_exchange_weak(seen, now)) {
        }
        if (sendTime_.count() > 0) std::this_thread::sleep_for(sendTime_);
        --calls_.inFlight;
        return true;
    }

private:
    OutputCalls& calls_;
    const bool openSucceeds_;
    const std::chrono::microseconds sendTime_;
};

class RecordingInputDriver final : public midi::InputDriver {
public:
    RecordingInputDriver(std::vector<std::int32_t>& openedIndices, std::string name)
        : openedIndices_(openedIndices), name_(std::move(name)) {}

    std::uint32_t GetDeviceCount() override { return 1; }
    std::string GetDeviceName(std::uint32_t) override { return name_; }
    bool Open(std::int32_t index, midi::SysExBlockHandler) override {
        openedIndices_.push_back(index);
        return false;
    }
    void Close() override {}

private:
    std::vector<std::int32_t>& openedIndices_;
    std::string name_;
};

}  // namespace tq5::test
