#include "midi/drivers/jack/jack_own_ports.hpp"

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/drivers/jack/watched_midi.hpp"
#include "midi/sysex_assembler.hpp"

namespace tq5::midi {
namespace {

// Far longer than a JACK cycle (a few milliseconds).
constexpr auto kCycleDrain = std::chrono::milliseconds(50);

class JackOwnPorts final : public OwnPorts {
public:
    explicit JackOwnPorts(SysExBlockHandler received) : requests_(std::move(received)) {}

    ~JackOwnPorts() override {
        in_.reset();
        std::lock_guard guard(outLock_);
        if (out_) {
            // RtMidi's JACK output frees its ring buffer before it closes its client, while a
            // process cycle may still be reading the ring. With the port closed first and
            // any cycle that began before given time to end, the cycles that follow read
            // nothing. (If the close fails, the client goes below all the same.)
            static_cast<void>(out_->Run([](RtMidiOut& midi) { midi.closePort(); }));
            std::this_thread::sleep_for(kCycleDrain);
        }
        out_.reset();
    }

    bool Open(const std::string& clientName, const std::string& portName, std::string& error) {
        auto out = WatchedMidi<RtMidiOut>::Create(RtMidi::UNIX_JACK, clientName);
        if (!out || !out->Run([&](RtMidiOut& midi) { midi.openVirtualPort(portName + " out"); })) {
            error = "can't open the output port (is the MIDI system running?)";
            return false;
        }
        {
            std::lock_guard guard(outLock_);
            out_ = std::move(out);
        }
        auto in = WatchedMidi<RtMidiIn>::Create(RtMidi::UNIX_JACK, clientName);
        if (!in || !in->Run([&](RtMidiIn& midi) {
                midi.ignoreTypes(false, true, true);
                midi.setCallback(&JackOwnPorts::OnMessage, this);
                midi.openVirtualPort(portName + " in");
            })) {
            error = "can't open the input port";
            return false;
        }
        in_ = std::move(in);
        return true;
    }

    bool Send(const std::uint8_t* bytes, std::size_t length) override {
        std::lock_guard guard(outLock_);
        return out_ && out_->Run([&](RtMidiOut& midi) { midi.sendMessage(bytes, length); });
    }

private:
    static void OnMessage(double, std::vector<unsigned char>* message, void* user) {
        if (message == nullptr || message->empty()) return;
        try {
            static_cast<JackOwnPorts*>(user)->requests_.Feed(message->data(), message->size());
        } catch (...) {  // nothing may be thrown into the MIDI system's thread
        }
    }

    // Requests are read from the stream as any MIDI receiver reads it (RtMidi's thread only).
    SysExAssembler requests_;
    std::unique_ptr<WatchedMidi<RtMidiIn>> in_;
    std::mutex outLock_;  // a send, and closing, which takes the port away
    std::unique_ptr<WatchedMidi<RtMidiOut>> out_;
};

}  // namespace

std::unique_ptr<OwnPorts> OpenJackOwnPorts(const std::string& clientName,
                                           const std::string& portName, SysExBlockHandler received,
                                           std::string& error) {
    auto ports = std::make_unique<JackOwnPorts>(std::move(received));
    if (!ports->Open(clientName, portName, error)) return nullptr;
    return ports;
}

}  // namespace tq5::midi
