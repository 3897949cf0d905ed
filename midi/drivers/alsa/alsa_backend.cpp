#include "midi/drivers/alsa/alsa_backend.hpp"

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

#include "midi/drivers/alsa/alsa_sequencer.hpp"
#include "midi/drivers/rawmidi/rawmidi_device.hpp"
#include "midi/drivers/rawmidi/rawmidi_input.hpp"
#include "midi/drivers/rawmidi/rawmidi_output.hpp"

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

    // The device as it is now, or false when there is no such device.
    bool Find(std::int32_t index, AlsaPortEntry& entry) {
        const auto ports = Ports();
        if (index < 0 || static_cast<std::size_t>(index) >= ports.size()) return false;
        entry = ports[static_cast<std::size_t>(index)];
        return true;
    }

private:
    const std::string clientName_;
    const AlsaPortDirection direction_;
    std::mutex lock_;
    std::unique_ptr<AlsaSequencer> lister_;
};

// A card's own port (a USB MIDI device's, say) is reached through its rawmidi device rather
// than the sequencer: see rawmidi_device.hpp for why. The port lists stay the sequencer's.
std::optional<std::string> CardDevice(const AlsaPortEntry& entry, RawMidiDirection direction) {
    const auto address =
        FindCardPortDevice(entry.card, entry.address.port, entry.portName, direction);
    if (!address) return std::nullopt;
    return address->Name();
}

class AlsaInputDriver final : public InputDriver {
public:
    explicit AlsaInputDriver(std::string clientName)
        : clientName_(std::move(clientName)), lister_(clientName_, AlsaPortDirection::Readable) {}
    ~AlsaInputDriver() override { Close(); }

    std::uint32_t GetDeviceCount() override { return lister_.Count(); }
    std::string GetDeviceName(std::uint32_t index) override { return lister_.Name(index); }

    bool Open(std::int32_t index, SysExBlockHandler handler) override {
        if (client_ || raw_.IsOpen()) return false;
        AlsaPortEntry source;
        if (!lister_.Find(index, source)) return false;
        if (const auto device = CardDevice(source, RawMidiDirection::Input)) {
            return raw_.Open(*device, std::move(handler));
        }
        auto client = AlsaSequencer::Open(clientName_);
        if (!client) return false;
        const int port = client->CreateInputPort("in");
        if (port < 0 || !client->ConnectFrom(source.address, port) ||
            !client->StartReading(std::move(handler))) {
            return false;
        }
        client_ = std::move(client);
        return true;
    }

    void Close() override {  // the reader has ended once this returns
        client_.reset();
        raw_.Close();
    }

    std::string OpenProblem() override { return raw_.Problem(); }
    bool DeviceGone() override { return raw_.Gone(); }

private:
    const std::string clientName_;
    PortLister lister_;
    std::unique_ptr<AlsaSequencer> client_;
    RawMidiInput raw_;
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
    PortLister lister_;
    std::mutex lock_;
    std::unique_ptr<AlsaSequencer> client_;
    int port_ = -1;
    std::atomic<bool> closing_{false};
    RawMidiOutput raw_;  // locks itself: Close must reach it while a send waits
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
