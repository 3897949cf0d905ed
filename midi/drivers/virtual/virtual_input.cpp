#include "midi/drivers/virtual/virtual_input.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "midi/sysex_assembler.hpp"

namespace tq5::midi {

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

std::unique_ptr<InputDriver> CreateVirtualInput(std::shared_ptr<detail::VirtualPairList> pairs) {
    return std::make_unique<VirtualInputDriver>(std::move(pairs));
}

}  // namespace tq5::midi
