#include "midi/drivers/jack/jack_input.hpp"

#include <mutex>
#include <stdexcept>
#include <vector>

#include "midi/drivers/jack/listed_names.hpp"
#include "midi/drivers/jack/watched_midi.hpp"
#include "midi/sysex_assembler.hpp"

namespace tq5::midi {
namespace {

class JackInputDriver final : public InputDriver {
public:
    JackInputDriver(std::shared_ptr<JackClient> client, std::string clientName)
        : client_(std::move(client)),
          clientName_(std::move(clientName)),
          listed_([this] { return client_->MidiPorts(JackPortIsOutput); }) {}
    ~JackInputDriver() override { Close(); }

    std::uint32_t GetDeviceCount() override { return listed_.Count(); }
    std::string GetDeviceName(std::uint32_t index) override { return listed_.Name(index); }

    bool Open(std::int32_t index, SysExBlockHandler handler) override {
        if (input_ || index < 0) return false;
        const std::string wanted = listed_.Chosen(index);
        auto input = WatchedMidi<RtMidiIn>::Create(RtMidi::UNIX_JACK, clientName_);
        if (!input) return false;
        {
            std::lock_guard guard(deliveryLock_);
            assembler_ = std::make_unique<SysExAssembler>(std::move(handler));
            delivering_ = true;
        }
        const bool opened = input->Run([&](RtMidiIn& midi) {
            midi.ignoreTypes(false, true, true);  // SysEx in; timing and active sensing out
            midi.setCallback(&JackInputDriver::OnMessage, this);
            midi.openPort(CurrentIndex(midi, wanted), "in");
        });
        if (!opened) {
            StopDelivery();
            return false;
        }
        input_ = std::move(input);
        return true;
    }

    void Close() override {
        if (!input_) return;
        StopDelivery();
        input_.reset();  // closes the client; RtMidi's input thread has ended afterwards
    }

private:
    // Ports come and go (our own output port among them), so the chosen one is looked up
    // again by its name in RtMidi's own list just before it opens.
    static unsigned int CurrentIndex(RtMidiIn& midi, const std::string& wanted) {
        const unsigned int count = midi.getPortCount();
        for (unsigned int i = 0; i < count; ++i) {
            if (midi.getPortName(i) == wanted) return i;
        }
        throw std::runtime_error("the chosen port is gone");
    }

    static void OnMessage(double, std::vector<unsigned char>* message, void* user) {
        auto* self = static_cast<JackInputDriver*>(user);
        if (message == nullptr || message->empty()) return;
        try {
            std::lock_guard guard(self->deliveryLock_);
            if (!self->delivering_) return;
            // Every message goes through, short ones too: RtMidi joins the pieces of a SysEx
            // but leaves real-time bytes in it, and a channel message ends one that lost its
            // F7.
            self->assembler_->Feed(message->data(), message->size());
        } catch (...) {  // nothing may be thrown into RtMidi's thread; the message is lost
        }
    }

    void StopDelivery() {
        std::lock_guard guard(deliveryLock_);
        delivering_ = false;
        assembler_.reset();
    }

    const std::shared_ptr<JackClient> client_;  // lists the ports; the input has its own
    const std::string clientName_;
    ListedNames listed_;
    std::unique_ptr<WatchedMidi<RtMidiIn>> input_;
    std::mutex deliveryLock_;  // once Close has taken it, no block is delivered any more
    std::unique_ptr<SysExAssembler> assembler_;
    bool delivering_ = false;
};

}  // namespace

std::unique_ptr<InputDriver> CreateJackInput(std::shared_ptr<JackClient> client,
                                             std::string clientName) {
    return std::make_unique<JackInputDriver>(std::move(client), std::move(clientName));
}

}  // namespace tq5::midi
