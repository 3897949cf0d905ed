#include "midi/drivers/alsa/alsa_backend.hpp"

#include <atomic>
#include <mutex>
#include <vector>

#include "midi/drivers/alsa/alsa_sequencer.hpp"

namespace tq5::midi {
namespace {

// Lists with a client of its own, so that the lists stay readable while a port is open.
class PortLister {
public:
    PortLister(std::string clientName, AlsaPortDirection direction)
        : clientName_(std::move(clientName)), direction_(direction) {}

    std::vector<AlsaPortEntry> Ports() {
        std::lock_guard guard(lock_);
        if (!lister_) lister_ = AlsaSequencer::Open(clientName_);
        if (!lister_) return {};
        return lister_->ListPorts(direction_);
    }

    std::uint32_t Count() { return static_cast<std::uint32_t>(Ports().size()); }

    std::string Name(std::uint32_t index) {
        const auto ports = Ports();
        return index < ports.size() ? ports[index].name : std::string();
    }

    // The device's address now, or false when there is no such device.
    bool Find(std::int32_t index, AlsaPortAddress& address) {
        const auto ports = Ports();
        if (index < 0 || static_cast<std::size_t>(index) >= ports.size()) return false;
        address = ports[static_cast<std::size_t>(index)].address;
        return true;
    }

private:
    const std::string clientName_;
    const AlsaPortDirection direction_;
    std::mutex lock_;
    std::unique_ptr<AlsaSequencer> lister_;
};

class AlsaInputDriver final : public InputDriver {
public:
    explicit AlsaInputDriver(std::string clientName)
        : clientName_(std::move(clientName)), lister_(clientName_, AlsaPortDirection::Readable) {}
    ~AlsaInputDriver() override { Close(); }

    std::uint32_t GetDeviceCount() override { return lister_.Count(); }
    std::string GetDeviceName(std::uint32_t index) override { return lister_.Name(index); }

    bool Open(std::int32_t index, SysExBlockHandler handler) override {
        if (client_) return false;
        AlsaPortAddress source;
        if (!lister_.Find(index, source)) return false;
        auto client = AlsaSequencer::Open(clientName_);
        if (!client) return false;
        const int port = client->CreateInputPort("in");
        if (port < 0 || !client->ConnectFrom(source, port) ||
            !client->StartReading(std::move(handler))) {
            return false;
        }
        client_ = std::move(client);
        return true;
    }

    void Close() override { client_.reset(); }  // the reader has ended once this returns

private:
    const std::string clientName_;
    PortLister lister_;
    std::unique_ptr<AlsaSequencer> client_;
};

class AlsaOutputDriver final : public OutputDriver {
public:
    explicit AlsaOutputDriver(std::string clientName)
        : clientName_(std::move(clientName)), lister_(clientName_, AlsaPortDirection::Writable) {}
    ~AlsaOutputDriver() override { Close(); }

    std::uint32_t GetDeviceCount() override { return lister_.Count(); }
    std::string GetDeviceName(std::uint32_t index) override { return lister_.Name(index); }

    bool Open(std::int32_t index) override {
        std::lock_guard guard(lock_);
        if (client_) return false;
        AlsaPortAddress destination;
        if (!lister_.Find(index, destination)) return false;
        auto client = AlsaSequencer::Open(clientName_);
        if (!client) return false;
        const int port = client->CreateOutputPort("out");
        if (port < 0 || !client->ConnectTo(port, destination)) return false;
        client_ = std::move(client);
        port_ = port;
        closing_.store(false);
        return true;
    }

    void Close() override {
        closing_.store(true);  // a send waiting for room gives up
        std::lock_guard guard(lock_);
        client_.reset();
    }

    // The kernel has copied the message into the receiver's queue when the send returns.
    bool Send(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t timeoutMs) override {
        std::lock_guard guard(lock_);
        if (!client_) return false;
        return client_->SendSysEx(port_, bytes, length, timeoutMs, &closing_);
    }

private:
    const std::string clientName_;
    PortLister lister_;
    std::mutex lock_;
    std::unique_ptr<AlsaSequencer> client_;
    int port_ = -1;
    std::atomic<bool> closing_{false};
};

}  // namespace

AlsaBackend::AlsaBackend(std::string clientName) : clientName_(std::move(clientName)) {}

std::unique_ptr<InputDriver> AlsaBackend::CreateInput() {
    return std::make_unique<AlsaInputDriver>(clientName_);
}

std::unique_ptr<OutputDriver> AlsaBackend::CreateOutput() {
    return std::make_unique<AlsaOutputDriver>(clientName_);
}

bool AlsaBackend::IsReachable() { return AlsaSequencer::IsReachable(); }

}  // namespace tq5::midi
