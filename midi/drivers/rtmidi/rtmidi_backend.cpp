#include "midi/drivers/rtmidi/rtmidi_backend.hpp"

#include <mutex>
#include <stdexcept>
#include <vector>

#include "midi/drivers/rtmidi/jack_client.hpp"
#include "midi/drivers/rtmidi/jack_output_driver.hpp"
#include "midi/drivers/rtmidi/listed_names.hpp"
#include "midi/drivers/rtmidi/watched_midi.hpp"
#include "midi/sysex_assembler.hpp"

namespace tq5::midi {
namespace {

// Where a driver's device list comes from.
class PortDirectory {
public:
    virtual ~PortDirectory() = default;
    // Every device's full name, in the system's order; empty without a MIDI system.
    virtual std::vector<std::string> Names() = 0;
    // The lists have been read: a client kept only for them may go.
    virtual void Release() {}
};

// ALSA: a client of its own, kept until a port opens, so that the list stays readable
// while nothing is open and costs nothing afterwards.
template <typename Midi>
class RtMidiPortDirectory final : public PortDirectory {
public:
    RtMidiPortDirectory(RtMidi::Api api, std::string clientName)
        : api_(api), clientName_(std::move(clientName)) {}

    std::vector<std::string> Names() override {
        std::lock_guard guard(lock_);
        std::vector<std::string> names;
        if (!lister_) lister_ = WatchedMidi<Midi>::Create(api_, clientName_);
        if (!lister_) return names;
        // A call that fails part way lists the names read before it.
        static_cast<void>(lister_->Run([&](Midi& midi) {
            const unsigned int count = midi.getPortCount();
            for (unsigned int i = 0; i < count; ++i) names.push_back(midi.getPortName(i));
        }));
        return names;
    }

    void Release() override {
        std::lock_guard guard(lock_);
        lister_.reset();
    }

private:
    const RtMidi::Api api_;
    const std::string clientName_;
    std::mutex lock_;
    std::unique_ptr<WatchedMidi<Midi>> lister_;
};

// JACK: the client the backend's drivers share.
class JackPortDirectory final : public PortDirectory {
public:
    JackPortDirectory(std::shared_ptr<JackClient> client, unsigned long flags)
        : client_(std::move(client)), flags_(flags) {}
    std::vector<std::string> Names() override { return client_->MidiPorts(flags_); }

private:
    const std::shared_ptr<JackClient> client_;
    const unsigned long flags_;
};

class RtMidiInputDriver final : public InputDriver {
public:
    RtMidiInputDriver(RtMidi::Api api, std::string clientName,
                      std::unique_ptr<PortDirectory> directory)
        : api_(api),
          clientName_(std::move(clientName)),
          directory_(std::move(directory)),
          listed_([this] { return directory_->Names(); }) {}
    ~RtMidiInputDriver() override { Close(); }

    std::uint32_t GetDeviceCount() override { return listed_.Count(); }
    std::string GetDeviceName(std::uint32_t index) override { return listed_.Name(index); }

    bool Open(std::int32_t index, SysExBlockHandler handler) override {
        if (input_ || index < 0) return false;
        const std::string wanted = listed_.Chosen(index);
        directory_->Release();
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
    const std::unique_ptr<PortDirectory> directory_;
    ListedNames listed_;
    std::unique_ptr<WatchedMidi<RtMidiIn>> input_;
    std::mutex deliveryLock_;  // once Close has taken it, no block is delivered any more
    std::unique_ptr<SysExAssembler> assembler_;
    bool delivering_ = false;
};

// ALSA output. RtMidi's ALSA client does not block: a message that the sequencer can't take
// fails the send at once.
class RtMidiOutputDriver final : public OutputDriver {
public:
    RtMidiOutputDriver(RtMidi::Api api, std::string clientName)
        : api_(api), clientName_(std::move(clientName)), directory_(api, clientName_) {}
    ~RtMidiOutputDriver() override { Close(); }

    std::uint32_t GetDeviceCount() override {
        return static_cast<std::uint32_t>(directory_.Names().size());
    }
    std::string GetDeviceName(std::uint32_t index) override {
        const std::vector<std::string> names = directory_.Names();
        return index < names.size() ? names[index] : std::string();
    }

    bool Open(std::int32_t index) override {
        std::lock_guard guard(lock_);
        if (output_ || index < 0) return false;
        directory_.Release();
        auto output = WatchedMidi<RtMidiOut>::Create(api_, clientName_);
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
        output_.reset();
    }

    // RtMidi hands the message to the sequencer before sendMessage returns, so the caller's
    // bytes are free then.
    bool Send(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t) override {
        std::lock_guard guard(lock_);
        if (!output_ || bytes == nullptr || length == 0) return false;
        return output_->Run([&](RtMidiOut& midi) { midi.sendMessage(bytes, length); });
    }

private:
    const RtMidi::Api api_;
    const std::string clientName_;
    RtMidiPortDirectory<RtMidiOut> directory_;
    std::mutex lock_;
    std::unique_ptr<WatchedMidi<RtMidiOut>> output_;
};

bool AlsaAnswers() {
    auto probe = WatchedMidi<RtMidiIn>::Create(RtMidi::LINUX_ALSA, "tq5-probe");
    return probe && probe->Run([](RtMidiIn& midi) { midi.getPortCount(); });
}

}  // namespace

RtMidiBackend::RtMidiBackend(RtMidiSystem system, std::string clientName)
    : system_(system), clientName_(std::move(clientName)) {
    if (system_ == RtMidiSystem::Jack) {
        JackClient::SilenceLibrary();
        jack_ = std::make_shared<JackClient>(clientName_);
    }
}

RtMidiBackend::~RtMidiBackend() = default;

std::unique_ptr<InputDriver> RtMidiBackend::CreateInput() {
    if (system_ == RtMidiSystem::Jack) {
        return std::make_unique<RtMidiInputDriver>(
            RtMidi::UNIX_JACK, clientName_,
            std::make_unique<JackPortDirectory>(jack_, JackPortIsOutput));
    }
    return std::make_unique<RtMidiInputDriver>(
        RtMidi::LINUX_ALSA, clientName_,
        std::make_unique<RtMidiPortDirectory<RtMidiIn>>(RtMidi::LINUX_ALSA, clientName_));
}

std::unique_ptr<OutputDriver> RtMidiBackend::CreateOutput() {
    if (system_ == RtMidiSystem::Jack) return std::make_unique<JackOutputDriver>(jack_);
    return std::make_unique<RtMidiOutputDriver>(RtMidi::LINUX_ALSA, clientName_);
}

bool RtMidiBackend::Reachable() {
    return system_ == RtMidiSystem::Jack ? jack_->Connect() : AlsaAnswers();
}

bool RtMidiBackend::IsReachable(RtMidiSystem system) {
    if (system == RtMidiSystem::Alsa) return AlsaAnswers();
    JackClient::SilenceLibrary();
    return JackClient("tq5-probe").Connect();
}

}  // namespace tq5::midi
