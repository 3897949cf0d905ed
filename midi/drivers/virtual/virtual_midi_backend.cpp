#include "midi/drivers/virtual/virtual_midi_backend.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "midi/sysex_assembler.hpp"

namespace tq5::midi {

namespace detail {

class VirtualPairList {
public:
    VirtualPortPair& Add(std::string inputName, std::string outputName) {
        std::lock_guard guard(lock_);
        pairs_.push_back(
            std::make_shared<VirtualPortPair>(std::move(inputName), std::move(outputName)));
        return *pairs_.back();
    }

    std::shared_ptr<VirtualPortPair> At(std::int32_t index) const {
        std::lock_guard guard(lock_);
        if (index < 0 || static_cast<std::size_t>(index) >= pairs_.size()) return nullptr;
        return pairs_[static_cast<std::size_t>(index)];
    }

    std::uint32_t Count() const {
        std::lock_guard guard(lock_);
        return static_cast<std::uint32_t>(pairs_.size());
    }

private:
    mutable std::mutex lock_;
    std::vector<std::shared_ptr<VirtualPortPair>> pairs_;
};

}  // namespace detail

// Receives the far end's messages on a thread of its own, like a platform's MIDI service.
class VirtualInputDriver final : public InputDriver {
public:
    explicit VirtualInputDriver(std::shared_ptr<detail::VirtualPairList> pairs)
        : pairs_(std::move(pairs)) {}
    ~VirtualInputDriver() override { Close(); }

    std::uint32_t GetDeviceCount() override { return pairs_->Count(); }

    std::string GetDeviceName(std::uint32_t index) override {
        const auto pair = pairs_->At(static_cast<std::int32_t>(index));
        return pair ? pair->InputName() : std::string();
    }

    bool Open(std::int32_t index, SysExBlockHandler handler) override {
        if (pair_) return false;
        auto pair = pairs_->At(index);
        if (!pair) return false;
        stopping_ = false;
        assembler_ = std::make_unique<SysExAssembler>(std::move(handler));
        thread_ = std::thread([this] { Run(); });
        const bool attached =
            pair->AttachInput([this](std::vector<std::uint8_t> bytes, bool error) {
                {
                    std::lock_guard guard(lock_);
                    pending_.push_back({std::move(bytes), error});
                }
                wake_.notify_one();
            });
        if (!attached) {
            StopThread();
            return false;
        }
        pair_ = std::move(pair);
        return true;
    }

    void Close() override {
        if (!pair_) return;
        pair_->DetachInput();
        StopThread();
        pair_.reset();
    }

private:
    struct Arrival {
        std::vector<std::uint8_t> bytes;
        bool error;
    };

    void Run() {
        std::unique_lock guard(lock_);
        while (true) {
            wake_.wait(guard, [this] { return stopping_ || !pending_.empty(); });
            if (stopping_) return;
            Arrival arrival = std::move(pending_.front());
            pending_.pop_front();
            guard.unlock();
            // An error block is handed straight back: nothing is queued, the broken message
            // is forgotten, and reception goes on with the next message.
            if (arrival.error) {
                assembler_->Reset();
            } else {
                assembler_->Feed(arrival.bytes.data(), arrival.bytes.size());
            }
            guard.lock();
        }
    }

    void StopThread() {
        {
            std::lock_guard guard(lock_);
            stopping_ = true;
            pending_.clear();  // like a reset: what has not been delivered is dropped
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
        assembler_.reset();
    }

    const std::shared_ptr<detail::VirtualPairList> pairs_;
    std::shared_ptr<VirtualPortPair> pair_;
    std::unique_ptr<SysExAssembler> assembler_;  // used on the delivery thread only
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Arrival> pending_;
    bool stopping_ = false;
};

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

VirtualMidiBackend::VirtualMidiBackend() : pairs_(std::make_shared<detail::VirtualPairList>()) {}

VirtualMidiBackend::~VirtualMidiBackend() = default;

VirtualPortPair& VirtualMidiBackend::AddPair(std::string inputName, std::string outputName) {
    return pairs_->Add(std::move(inputName), std::move(outputName));
}

VirtualPortPair* VirtualMidiBackend::Pair(std::size_t index) {
    if (index >= pairs_->Count()) return nullptr;
    return pairs_->At(static_cast<std::int32_t>(index)).get();
}

std::size_t VirtualMidiBackend::PairCount() const { return pairs_->Count(); }

std::unique_ptr<InputDriver> VirtualMidiBackend::CreateInput() {
    return std::make_unique<VirtualInputDriver>(pairs_);
}

std::unique_ptr<OutputDriver> VirtualMidiBackend::CreateOutput() {
    return std::make_unique<VirtualOutputDriver>(pairs_);
}

}  // namespace tq5::midi
