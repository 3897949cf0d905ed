#include "sim/devsim/device_endpoint.hpp"

#include "midi/drivers/midi_backends.hpp"

#include <chrono>
#include <iostream>
#include <thread>

namespace tq5::sim {
namespace {

// How often a rawmidi device that went away is looked for again.
constexpr auto kReconnectPoll = std::chrono::milliseconds(200);

void Announce(const std::string& line) { std::cout << (line + "\n") << std::flush; }

}  // namespace

DeviceEndpoint::DeviceEndpoint(VirtualDevice& device, const DevsimOptions& options)
    : device_(device), options_(options) {}

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
    rawIn_.Close();
    rawOut_.Close();
    if (gadget_) gadget_->Close();
    std::lock_guard guard(outLock_);
    ports_.reset();
}

bool DeviceEndpoint::Open(std::string& error) {
    if (options_.api == kRawMidiApi) return OpenRawMidi(error);
    if (options_.api == kUsbGadgetApi) return OpenUsbGadget(error);
    return OpenOwnPorts(error);
}

bool DeviceEndpoint::OpenOwnPorts(std::string& error) {
    const midi::MidiBackendEntry* system = midi::FindMidiBackend(options_.api);
    if (system == nullptr || system->openOwnPorts == nullptr) {
        error = options_.api + " makes no ports of a program's own";
        return false;
    }
    device_.SetReplySink(
        [this](const std::uint8_t* bytes, std::size_t length) { SendReply(bytes, length); });
    auto ports = system->openOwnPorts(
        options_.clientName, options_.portName,
        [this](const std::uint8_t* bytes, std::size_t length) { device_.Receive(bytes, length); },
        error);
    if (!ports) return false;
    std::lock_guard guard(outLock_);
    ports_ = std::move(ports);
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

void DeviceEndpoint::SendReply(const std::uint8_t* bytes, std::size_t length) {
    std::lock_guard guard(outLock_);
    // A reply the MIDI system refuses is lost, as one on a real line would be: the updater
    // finds out by its own time-out.
    if (ports_) static_cast<void>(ports_->Send(bytes, length));
    if (gadget_) {
        static_cast<void>(
            gadget_->Send(bytes, length, std::chrono::milliseconds(midi::kSendTimeoutMs)));
    }
    if (options_.api == kRawMidiApi) {
        static_cast<void>(
            rawOut_.Send(bytes, static_cast<std::uint32_t>(length), midi::kSendTimeoutMs));
    }
}

}  // namespace tq5::sim
