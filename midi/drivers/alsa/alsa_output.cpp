#include "midi/drivers/alsa/alsa_output.hpp"

#include <atomic>
#include <mutex>
#include <vector>

#include "midi/drivers/alsa/alsa_port_list.hpp"
#include "midi/drivers/rawmidi/rawmidi_output.hpp"

namespace tq5::midi {
namespace {

class AlsaOutputDriver final : public OutputDriver {
public:
    explicit AlsaOutputDriver(std::string clientName)
        : clientName_(std::move(clientName)), lister_(clientName_, AlsaPortDirection::Writable) {}
    ~AlsaOutputDriver() override { Close(); }

    std::uint32_t GetDeviceCount() override { return lister_.Count(); }
    std::string GetDeviceName(std::uint32_t index) override { return lister_.Name(index); }

    bool Open(std::int32_t index) override {
        std::lock_guard guard(lock_);
        if (client_ || raw_.IsOpen()) return false;
        AlsaPortEntry destination;
        if (!lister_.Find(index, destination)) return false;
        if (const auto device = CardDevice(destination, RawMidiDirection::Output)) {
            return raw_.Open(*device);
        }
        auto client = AlsaSequencer::Open(clientName_);
        if (!client) return false;
        const int port = client->CreateOutputPort("out");
        if (port < 0 || !client->ConnectTo(port, destination.address)) return false;
        client_ = std::move(client);
        port_ = port;
        closing_.store(false);
        return true;
    }

    void Close() override {
        closing_.store(true);  // a send waiting for room gives up
        raw_.Close();          // and so does one waiting for the device
        std::lock_guard guard(lock_);
        client_.reset();
    }

    // Through the sequencer the kernel has copied the message into the receiver's queue when
    // the send returns; through a card's rawmidi device, every byte has gone to its driver.
    bool Send(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t timeoutMs) override {
        std::lock_guard guard(lock_);
        if (client_) return client_->SendSysEx(port_, bytes, length, timeoutMs, &closing_);
        return raw_.Send(bytes, length, timeoutMs);
    }

    std::string OpenProblem() override { return raw_.Problem(); }
    bool DeviceGone() override { return raw_.Gone(); }

private:
    const std::string clientName_;
    AlsaPortList lister_;
    std::mutex lock_;
    std::unique_ptr<AlsaSequencer> client_;
    int port_ = -1;
    std::atomic<bool> closing_{false};
    RawMidiOutput raw_;  // locks itself: Close must reach it while a send waits
};

}  // namespace

std::unique_ptr<OutputDriver> CreateAlsaOutput(std::string clientName) {
    return std::make_unique<AlsaOutputDriver>(std::move(clientName));
}

}  // namespace tq5::midi
