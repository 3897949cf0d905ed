#include "sim/devsim/device_endpoint.hpp"

#include <chrono>
#include <iostream>
#include <thread>

namespace tq5::sim {
namespace {

// Far longer than a JACK cycle (a few milliseconds).
constexpr auto kCycleDrain = std::chrono::milliseconds(50);
// How often a rawmidi device that went away is looked for again.
constexpr auto kReconnectPoll = std::chrono::milliseconds(200);

void Announce(const std::string& line) { std::cout << (line + "\n") << std::flush; }

}  // namespace

DeviceEndpoint::DeviceEndpoint(VirtualDevice& device, const DevsimOptions& options)
    : device_(device),
      options_(options),
      requests_([this](const std::uint8_t* bytes, std::size_t length) {
          device_.Receive(bytes, length);
      }) {}

DeviceEndpoint::~DeviceEndpoint() {
    if (watcher_.joinable()) {
        {
            std::lock_guard guard(watchLock_);
            stopping_ = true;
        }
        watchWake_.notify_all();
        watcher_.join();
    }
    device_.SetReplySink(nullptr);
    in_.reset();
    alsaIn_.reset();
    rawIn_.Close();
    rawOut_.Close();
    if (gadget_) gadget_->Close();
    std::lock_guard guard(outLock_);
    if (out_) {
        // RtMidi's JACK output frees its ring buffer before it closes its client, while a
        // process cycle may still be reading the ring. With the port closed first and any
        // cycle that began before given time to end, the cycles that follow read nothing.
        // (If the close fails, the client goes below all the same.)
        static_cast<void>(out_->Run([](RtMidiOut& midi) { midi.closePort(); }));
        std::this_thread::sleep_for(kCycleDrain);
    }
    out_.reset();
    alsaOut_.reset();
}

bool DeviceEndpoint::Open(std::string& error) {
    if (options_.api == DevsimApi::Alsa) return OpenAlsa(error);
    if (options_.api == DevsimApi::RawMidi) return OpenRawMidi(error);
    if (options_.api == DevsimApi::UsbGadget) return OpenUsbGadget(error);
    // JACK through RtMidi: its virtual ports are this client's own.
    const RtMidi::Api api = RtMidi::UNIX_JACK;
    auto out = midi::WatchedMidi<RtMidiOut>::Create(api, options_.clientName);
    if (!out ||
        !out->Run([&](RtMidiOut& midi) { midi.openVirtualPort(options_.portName + " out"); })) {
        error = "can't open the output port (is the MIDI system running?)";
        return false;
    }
    {
        std::lock_guard guard(outLock_);
        out_ = std::move(out);
    }
    device_.SetReplySink(
        [this](const std::uint8_t* bytes, std::size_t length) { SendReply(bytes, length); });

    auto in = midi::WatchedMidi<RtMidiIn>::Create(api, options_.clientName);
    if (!in || !in->Run([&](RtMidiIn& midi) {
            midi.ignoreTypes(false, true, true);
            midi.setCallback(&DeviceEndpoint::OnMessage, this);
            midi.openVirtualPort(options_.portName + " in");
        })) {
        error = "can't open the input port";
        return false;
    }
    in_ = std::move(in);
    return true;
}

// Two clients named alike, one port each, as on JACK.
bool DeviceEndpoint::OpenAlsa(std::string& error) {
    auto out = midi::AlsaSequencer::Open(options_.clientName);
    const int outPort = out ? out->CreateOutputPort(options_.portName + " out") : -1;
    if (outPort < 0) {
        error = "can't open the output port (is there an ALSA sequencer, /dev/snd/seq?)";
        return false;
    }
    {
        std::lock_guard guard(outLock_);
        alsaOut_ = std::move(out);
        alsaOutPort_ = outPort;
    }
    device_.SetReplySink(
        [this](const std::uint8_t* bytes, std::size_t length) { SendReply(bytes, length); });

    auto in = midi::AlsaSequencer::Open(options_.clientName);
    if (!in || in->CreateInputPort(options_.portName + " in") < 0 ||
        !in->StartReading([this](const std::uint8_t* bytes, std::size_t length) {
            device_.Receive(bytes, length);
        })) {
        error = "can't open the input port";
        return false;
    }
    alsaIn_ = std::move(in);
    return true;
}

bool DeviceEndpoint::OpenRawMidi(std::string& error) {
    if (!OpenRawMidiDevice(error)) return false;
    device_.SetReplySink(
        [this](const std::uint8_t* bytes, std::size_t length) { SendReply(bytes, length); });
    watcher_ = std::thread([this] { WatchRawMidi(); });
    return true;
}

bool DeviceEndpoint::OpenUsbGadget(std::string& error) {
    midi::UsbMidiGadget::Settings settings;
    settings.gadgetfs = options_.gadgetfs;
    settings.lineBytesPerSecond = options_.usbLineBytesPerSecond;
    {
        std::lock_guard guard(outLock_);
        gadget_ = std::make_unique<midi::UsbMidiGadget>();
    }
    device_.SetReplySink(
        [this](const std::uint8_t* bytes, std::size_t length) { SendReply(bytes, length); });
    return gadget_->Open(
        settings,
        [this](const std::uint8_t* bytes, std::size_t length) { device_.Receive(bytes, length); },
        error);
}

bool DeviceEndpoint::OpenRawMidiDevice(std::string& error) {
    const std::string& name = options_.rawmidiDevice;
    if (!rawOut_.Open(name)) {
        error = "can't open " + name + " for output: " + rawOut_.Problem();
        return false;
    }
    // The cable has no flow control of its own: the reader takes what comes at once, into
    // the device's queue, which receives it at the device's line pace.
    const bool reading = rawIn_.Open(
        name,
        [this](const std::uint8_t* bytes, std::size_t length) { device_.Receive(bytes, length); },
        [this] {
            {
                std::lock_guard guard(watchLock_);
                rawGone_ = true;
            }
            watchWake_.notify_all();
        });
    if (!reading) {
        error = "can't open " + name + " for input: " + rawIn_.Problem();
        rawOut_.Close();
        return false;
    }
    return true;
}

void DeviceEndpoint::WatchRawMidi() {
    std::unique_lock guard(watchLock_);
    while (true) {
        watchWake_.wait(guard, [this] { return stopping_ || rawGone_; });
        if (stopping_) return;
        guard.unlock();
        rawIn_.Close();
        rawOut_.Close();
        Announce("tq5-devsim: " + options_.rawmidiDevice + " went away; waiting for it");
        guard.lock();
        rawGone_ = false;
        std::string error;
        while (!stopping_) {
            guard.unlock();
            const bool back = OpenRawMidiDevice(error);
            guard.lock();
            if (back) {
                Announce("tq5-devsim: " + options_.rawmidiDevice + " is back");
                break;
            }
            watchWake_.wait_for(guard, kReconnectPoll, [this] { return stopping_; });
        }
    }
}

void DeviceEndpoint::OnMessage(double, std::vector<unsigned char>* message, void* user) {
    if (message == nullptr || message->empty()) return;
    try {
        static_cast<DeviceEndpoint*>(user)->requests_.Feed(message->data(), message->size());
    } catch (...) {  // nothing may be thrown into the MIDI system's thread
    }
}

void DeviceEndpoint::SendReply(const std::uint8_t* bytes, std::size_t length) {
    std::lock_guard guard(outLock_);
    // A reply the MIDI system refuses is lost, as one on a real line would be: the updater
    // finds out by its own time-out.
    if (out_) {
        static_cast<void>(out_->Run([&](RtMidiOut& midi) { midi.sendMessage(bytes, length); }));
    }
    if (alsaOut_) {
        static_cast<void>(alsaOut_->SendSysEx(alsaOutPort_, bytes, length, midi::kSendTimeoutMs));
    }
    if (gadget_) {
        static_cast<void>(
            gadget_->Send(bytes, length, std::chrono::milliseconds(midi::kSendTimeoutMs)));
    }
    if (options_.api == DevsimApi::RawMidi) {
        static_cast<void>(
            rawOut_.Send(bytes, static_cast<std::uint32_t>(length), midi::kSendTimeoutMs));
    }
}

}  // namespace tq5::sim
