#include "midi/drivers/rtmidi/rtmidi_backend.hpp"

#include <chrono>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "midi/drivers/rtmidi/watched_midi.hpp"
#include "midi/sysex_assembler.hpp"

namespace tq5::midi {
namespace {

// RtMidi's JACK output keeps messages in a ring of this size and silently drops one that
// can never fit; such a message is refused here instead.
constexpr std::size_t kJackRingBytes = 16384;
constexpr std::size_t kJackLengthPrefix = sizeof(int);
// Far longer than a JACK cycle (a few milliseconds): what a closing output waits for the
// cycle in progress to end.
constexpr auto kCycleDrain = std::chrono::milliseconds(50);

// RtMidi's JACK output client leaks its ring buffers when no server answers, so none is
// made before an input client (which leaks nothing) has found the server.
bool ServerAnswers(RtMidi::Api api) {
    if (api != RtMidi::UNIX_JACK) return true;
    auto probe = WatchedMidi<RtMidiIn>::Create(api, "tq5-probe");
    return probe && probe->Run([](RtMidiIn& midi) { midi.getPortCount(); });
}

template <typename Midi>
std::unique_ptr<WatchedMidi<Midi>> CreateClient(RtMidi::Api api, const std::string& clientName) {
    if (std::is_same_v<Midi, RtMidiOut> && !ServerAnswers(api)) return nullptr;
    return WatchedMidi<Midi>::Create(api, clientName);
}

template <typename Midi>
std::uint32_t CountPorts(WatchedMidi<Midi>* lister) {
    unsigned int count = 0;
    if (lister == nullptr || !lister->Run([&](Midi& midi) { count = midi.getPortCount(); })) {
        return 0;
    }
    return count;
}

template <typename Midi>
std::string PortName(WatchedMidi<Midi>* lister, std::uint32_t index) {
    std::string name;
    if (lister == nullptr || !lister->Run([&](Midi& midi) { name = midi.getPortName(index); })) {
        return std::string();
    }
    return name;
}

// Listing uses a client of its own, so the list stays readable while a port is open.
template <typename Midi>
class PortLister {
public:
    PortLister(RtMidi::Api api, std::string clientName)
        : api_(api), clientName_(std::move(clientName)) {}

    std::uint32_t Count() {
        std::lock_guard guard(lock_);
        return CountPorts(Lister());
    }
    std::string Name(std::uint32_t index) {
        std::lock_guard guard(lock_);
        return PortName(Lister(), index);
    }

private:
    WatchedMidi<Midi>* Lister() {
        if (!lister_) lister_ = CreateClient<Midi>(api_, clientName_);
        return lister_.get();
    }

    const RtMidi::Api api_;
    const std::string clientName_;
    std::mutex lock_;
    std::unique_ptr<WatchedMidi<Midi>> lister_;
};

class RtMidiInputDriver final : public InputDriver {
public:
    RtMidiInputDriver(RtMidi::Api api, std::string clientName)
        : api_(api), clientName_(std::move(clientName)), lister_(api, clientName_) {}
    ~RtMidiInputDriver() override { Close(); }

    std::uint32_t GetDeviceCount() override { return lister_.Count(); }
    std::string GetDeviceName(std::uint32_t index) override { return lister_.Name(index); }

    bool Open(std::int32_t index, SysExBlockHandler handler) override {
        if (input_ || index < 0) return false;
        auto input = WatchedMidi<RtMidiIn>::Create(api_, clientName_);
        if (!input) return false;
        {
            std::lock_guard guard(deliveryLock_);
            assembler_ = std::make_unique<SysExAssembler>(std::move(handler));
            delivering_ = true;
        }
        const bool opened = input->Run([&](RtMidiIn& midi) {
            midi.ignoreTypes(false, true, true);  // SysEx in; timing and active sensing out
            midi.setCallback(&RtMidiInputDriver::OnMessage, this);
            midi.openPort(static_cast<unsigned int>(index), "in");
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
    static void OnMessage(double, std::vector<unsigned char>* message, void* user) {
        auto* self = static_cast<RtMidiInputDriver*>(user);
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

    const RtMidi::Api api_;
    const std::string clientName_;
    PortLister<RtMidiIn> lister_;
    std::unique_ptr<WatchedMidi<RtMidiIn>> input_;
    std::mutex deliveryLock_;  // once Close has taken it, no block is delivered any more
    std::unique_ptr<SysExAssembler> assembler_;
    bool delivering_ = false;
};

class RtMidiOutputDriver final : public OutputDriver {
public:
    RtMidiOutputDriver(RtMidi::Api api, std::string clientName)
        : api_(api), clientName_(std::move(clientName)), lister_(api, clientName_) {}
    ~RtMidiOutputDriver() override { Close(); }

    std::uint32_t GetDeviceCount() override { return lister_.Count(); }
    std::string GetDeviceName(std::uint32_t index) override { return lister_.Name(index); }

    bool Open(std::int32_t index) override {
        std::lock_guard guard(lock_);
        if (output_ || index < 0) return false;
        auto output = CreateClient<RtMidiOut>(api_, clientName_);
        if (!output || !output->Run([&](RtMidiOut& midi) {
                midi.openPort(static_cast<unsigned int>(index), "out");
            })) {
            return false;
        }
        output_ = std::move(output);
        return true;
    }

    void Close() override {
        std::lock_guard guard(lock_);
        if (output_ && api_ == RtMidi::UNIX_JACK) {
            // RtMidi's JACK output frees its ring buffer before it closes its client, while a
            // process cycle that began before the port went may still be reading the ring.
            // Closing the port first, then letting any such cycle end, leaves the cycles that
            // follow nothing to read.
            output_->Run([](RtMidiOut& midi) { midi.closePort(); });
            std::this_thread::sleep_for(kCycleDrain);
        }
        output_.reset();
    }

    // RtMidi copies the message before sendMessage returns (ALSA drains it to the
    // sequencer, JACK queues it for the next cycle), so the caller's bytes are free then.
    bool Send(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t) override {
        std::lock_guard guard(lock_);
        if (!output_ || bytes == nullptr || length == 0) return false;
        if (api_ == RtMidi::UNIX_JACK && length + kJackLengthPrefix > kJackRingBytes) {
            return false;
        }
        return output_->Run([&](RtMidiOut& midi) { midi.sendMessage(bytes, length); });
    }

private:
    const RtMidi::Api api_;
    const std::string clientName_;
    PortLister<RtMidiOut> lister_;
    std::mutex lock_;
    std::unique_ptr<WatchedMidi<RtMidiOut>> output_;
};

}  // namespace

RtMidiBackend::RtMidiBackend(RtMidiSystem system, std::string clientName)
    : system_(system), clientName_(std::move(clientName)) {}

std::unique_ptr<InputDriver> RtMidiBackend::CreateInput() {
    return std::make_unique<RtMidiInputDriver>(ToRtMidiApi(system_ == RtMidiSystem::Jack),
                                               clientName_);
}

std::unique_ptr<OutputDriver> RtMidiBackend::CreateOutput() {
    return std::make_unique<RtMidiOutputDriver>(ToRtMidiApi(system_ == RtMidiSystem::Jack),
                                                clientName_);
}

bool RtMidiBackend::IsReachable(RtMidiSystem system) {
    const RtMidi::Api api = ToRtMidiApi(system == RtMidiSystem::Jack);
    auto probe = WatchedMidi<RtMidiIn>::Create(api, "tq5-probe");
    return probe && probe->Run([](RtMidiIn& midi) { midi.getPortCount(); });
}

}  // namespace tq5::midi
