#include "midi/drivers/alsa/alsa_own_ports.hpp"

#include <mutex>

#include "midi/drivers/alsa/alsa_sequencer.hpp"

namespace tq5::midi {
namespace {

class AlsaOwnPorts final : public OwnPorts {
public:
    ~AlsaOwnPorts() override {
        in_.reset();  // the reader has ended
        std::lock_guard guard(outLock_);
        out_.reset();
    }

    bool Open(const std::string& clientName, const std::string& portName,
              SysExBlockHandler received, std::string& error) {
        auto out = AlsaSequencer::Open(clientName);
        const int outPort = out ? out->CreateOutputPort(portName + " out") : -1;
        if (outPort < 0) {
            error = "can't open the output port (is there an ALSA sequencer, /dev/snd/seq?)";
            return false;
        }
        {
            std::lock_guard guard(outLock_);
            out_ = std::move(out);
            outPort_ = outPort;
        }
        auto in = AlsaSequencer::Open(clientName);
        if (!in || in->CreateInputPort(portName + " in") < 0 ||
            !in->StartReading(std::move(received))) {
            error = "can't open the input port";
            return false;
        }
        in_ = std::move(in);
        return true;
    }

    bool Send(const std::uint8_t* bytes, std::size_t length) override {
        std::lock_guard guard(outLock_);
        return out_ && out_->SendSysEx(outPort_, bytes, length, kSendTimeoutMs);
    }

private:
    std::unique_ptr<AlsaSequencer> in_;
    std::mutex outLock_;  // a send, and closing
    std::unique_ptr<AlsaSequencer> out_;
    int outPort_ = -1;
};

}  // namespace

std::unique_ptr<OwnPorts> OpenAlsaOwnPorts(const std::string& clientName,
                                           const std::string& portName, SysExBlockHandler received,
                                           std::string& error) {
    auto ports = std::make_unique<AlsaOwnPorts>();
    if (!ports->Open(clientName, portName, std::move(received), error)) return nullptr;
    return ports;
}

}  // namespace tq5::midi
