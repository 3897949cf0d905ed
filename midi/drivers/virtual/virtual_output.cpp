#include "midi/drivers/virtual/virtual_output.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

namespace tq5::midi {

class VirtualOutputDriver final : public OutputDriver {
public:
    explicit VirtualOutputDriver(std::shared_ptr<detail::VirtualPairList> pairs)
        : pairs_(std::move(pairs)) {}
    ~VirtualOutputDriver() override { Close(); }

    std::uint32_t GetDeviceCount() override { return pairs_->Count(); }

    std::string GetDeviceName(std::uint32_t index) override {
        const auto pair = pairs_->At(static_cast<std::int32_t>(index));
        return pair ? pair->OutputName() : std::string();
    }

    bool Open(std::int32_t index) override {
        std::lock_guard guard(lock_);
        if (pair_) return false;
        auto pair = pairs_->At(index);
        if (!pair || !pair->AttachOutput()) return false;
        pair_ = std::move(pair);
        return true;
    }

    void Close() override {
        {
            std::lock_guard guard(lock_);
            if (!pair_) return;
            pair_->DetachOutput();
            pair_.reset();
            ++closings_;
        }
        closed_.notify_all();  // ends a send that waits for the line
    }

    bool Send(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t timeoutMs) override {
        using Clock = VirtualPortPair::Clock;
        std::unique_lock guard(lock_);
        if (!pair_ || bytes == nullptr || length == 0) return false;
        const std::shared_ptr<VirtualPortPair> pair = pair_;
        if (pair->failSends_.load()) return false;

        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        const std::uint64_t closings = closings_;
        const auto closedMeanwhile = [&] { return closings_ != closings; };
        // Waits until `finish` unless the port closes or the bound runs out first; true when
        // the wait ran to `finish`.
        const auto waitForLine = [&](Clock::time_point finish) {
            ++pair->sendsWaiting_;
            closed_.wait_until(guard, std::min(finish, deadline), closedMeanwhile);
            --pair->sendsWaiting_;
            return !closedMeanwhile() && finish <= deadline;
        };

        // A held line never finishes; a slow one finishes after its delay. Either way a
        // send that fails here never reached the far end, and nothing reads the caller's
        // bytes after it returns.
        if (pair->holdSends_.load()) {
            waitForLine(Clock::time_point::max());
            return false;
        }
        const std::uint32_t delayMs = pair->sendDelayMs_.load();
        if (delayMs > 0 && !waitForLine(Clock::now() + std::chrono::milliseconds(delayMs))) {
            return false;
        }
        guard.unlock();
        const Clock::time_point arrived = pair->PassToFarEnd(bytes, length);
        guard.lock();
        // The far end has its own copy; what remains is the time the bytes take on its line.
        if (pair->SendReturnsEarly()) return true;
        return waitForLine(arrived);
    }

    bool SendReturnsBeforeLineTime() const override {
        std::lock_guard guard(lock_);
        return pair_ && pair_->SendReturnsEarly();
    }

private:
    const std::shared_ptr<detail::VirtualPairList> pairs_;
    mutable std::mutex lock_;
    std::condition_variable closed_;
    std::shared_ptr<VirtualPortPair> pair_;
    std::uint64_t closings_ = 0;
};

std::unique_ptr<OutputDriver> CreateVirtualOutput(std::shared_ptr<detail::VirtualPairList> pairs) {
    return std::make_unique<VirtualOutputDriver>(std::move(pairs));
}

}  // namespace tq5::midi
