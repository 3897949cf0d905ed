#include "midi/drivers/alsa/alsa_input.hpp"

#include <atomic>
#include <mutex>
#include <vector>

#include "midi/drivers/alsa/alsa_port_list.hpp"
#include "midi/drivers/rawmidi/rawmidi_input.hpp"

namespace tq5::midi {
namespace {

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
    AlsaPortList lister_;
    std::unique_ptr<AlsaSequencer> client_;
    RawMidiInput raw_;
};

}  // namespace

std::unique_ptr<InputDriver> CreateAlsaInput(std::string clientName) {
    return std::make_unique<AlsaInputDriver>(std::move(clientName));
}

}  // namespace tq5::midi
