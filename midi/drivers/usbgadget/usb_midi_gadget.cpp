#include "midi/drivers/usbgadget/usb_midi_gadget.hpp"

#include <endian.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "midi/drivers/usbgadget/usb_midi_packets.hpp"
#include "midi/sysex_assembler.hpp"

namespace tq5::midi {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kInAddress = 0x81;   // "ep1in-bulk"
constexpr std::uint8_t kOutAddress = 0x02;  // "ep2out-bulk"
constexpr std::uint8_t kMaxPacket = 64;     // full-speed bulk
constexpr std::uint8_t kManufacturerString = 1;
constexpr std::uint8_t kProductString = 2;

// A USB descriptor: its length, its type, the rest.
void Add(Bytes& to, std::uint8_t type, std::initializer_list<std::uint8_t> rest) {
    to.push_back(static_cast<std::uint8_t>(2 + rest.size()));
    to.push_back(type);
    to.insert(to.end(), rest);
}

// The one configuration, as the USB MIDI class wants it: an audio control interface that
// names the MIDI streaming interface, which has an embedded and an external jack each way and
// a bulk endpoint each way bound to its embedded jack.
Bytes Configuration() {
    constexpr std::uint8_t kInterface = 0x04, kEndpoint = 0x05, kClassInterface = 0x24,
                           kClassEndpoint = 0x25, kAudio = 0x01, kControl = 0x01, kStreaming = 0x03,
                           kBulk = 0x02;
    Bytes config;
    Add(config, kInterface, {0, 0, 0, kAudio, kControl, 0, 0});
    Add(config, kClassInterface, {0x01, 0x00, 0x01, 9, 0, 1, 1});  // header: interface 1
    Add(config, kInterface, {1, 0, 2, kAudio, kStreaming, 0, 0});
    const std::size_t header = config.size();
    Add(config, kClassInterface, {0x01, 0x00, 0x01, 0, 0});     // header; total filled in below
    Add(config, kClassInterface, {0x02, 0x01, 1, 0});           // IN jack 1, embedded
    Add(config, kClassInterface, {0x02, 0x02, 2, 0});           // IN jack 2, external
    Add(config, kClassInterface, {0x03, 0x01, 3, 1, 2, 1, 0});  // OUT jack 3 <- jack 2
    Add(config, kClassInterface, {0x03, 0x02, 4, 1, 1, 1, 0});  // OUT jack 4 <- jack 1
    Add(config, kEndpoint, {kOutAddress, kBulk, kMaxPacket, 0, 0, 0, 0});
    Add(config, kClassEndpoint, {0x01, 1, 1});  // carries embedded IN jack 1
    Add(config, kEndpoint, {kInAddress, kBulk, kMaxPacket, 0, 0, 0, 0});
    Add(config, kClassEndpoint, {0x01, 1, 3});  // carries embedded OUT jack 3
    const std::size_t streaming = config.size() - header;
    config[header + 5] = static_cast<std::uint8_t>(streaming & 0xFF);
    config[header + 6] = static_cast<std::uint8_t>(streaming >> 8);

    const std::size_t total = USB_DT_CONFIG_SIZE + config.size();
    Bytes head;
    Add(head, USB_DT_CONFIG,
        {static_cast<std::uint8_t>(total & 0xFF), static_cast<std::uint8_t>(total >> 8), 2, 1, 0,
         USB_CONFIG_ATT_ONE, 50});
    head.insert(head.end(), config.begin(), config.end());
    return head;
}

Bytes DeviceDescriptor() {
    Bytes device;
    // USB 2.0, class per interface, 64-byte control endpoint, Linux Foundation's
    // multifunction composite gadget id (as the kernel's own MIDI gadget), one configuration.
    Add(device, USB_DT_DEVICE,
        {0x00, 0x02, 0, 0, 0, 64, 0x6b, 0x1d, 0x04, 0x01, 0x00, 0x01, kManufacturerString,
         kProductString, 0, 1});
    return device;
}

Bytes StringDescriptor(std::uint8_t index, const UsbMidiGadget::Settings& settings) {
    Bytes text;
    if (index == 0) {
        text = {0x09, 0x04};  // English (United States)
    } else if (index == kManufacturerString || index == kProductString) {
        for (const char c : index == kProductString ? settings.product : settings.manufacturer) {
            text.push_back(static_cast<std::uint8_t>(c));
            text.push_back(0);
        }
    } else {
        return {};
    }
    Bytes descriptor{static_cast<std::uint8_t>(2 + text.size()), USB_DT_STRING};
    descriptor.insert(descriptor.end(), text.begin(), text.end());
    return descriptor;
}

// Opens an endpoint's file and configures it with its full-speed descriptor.
int OpenEndpoint(const std::string& path, std::uint8_t address) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return -1;
    Bytes config{1, 0, 0, 0};  // tag 1: an endpoint's descriptors
    Add(config, USB_DT_ENDPOINT, {address, USB_ENDPOINT_XFER_BULK, kMaxPacket, 0, 0});
    if (::write(fd, config.data(), config.size()) != static_cast<ssize_t>(config.size())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The signal that ends a transfer's wait; its handler does nothing, so the wait ends with
// EINTR.
constexpr int kInterruptSignal = SIGUSR2;

void Interrupted(int) {}

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, bytes, length);
        if (written <= 0) return false;  // EINTR too: the interrupter ended it
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

UsbMidiGadget::Interrupter::Interrupter() {
    struct sigaction action {};
    action.sa_handler = &Interrupted;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the interrupted call returns
    ::sigaction(kInterruptSignal, &action, nullptr);
    runner_ = std::thread([this] { Run(); });
}

UsbMidiGadget::Interrupter::~Interrupter() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    runner_.join();
}

void UsbMidiGadget::Interrupter::Arm(pthread_t thread, std::chrono::steady_clock::time_point at) {
    {
        std::lock_guard guard(lock_);
        armed_ = true;
        thread_ = thread;
        at_ = at;
    }
    changed_.notify_all();
}

void UsbMidiGadget::Interrupter::Disarm() {
    std::lock_guard guard(lock_);
    armed_ = false;
}

void UsbMidiGadget::Interrupter::Run() {
    std::unique_lock guard(lock_);
    while (!stopping_) {
        if (!armed_) {
            changed_.wait(guard);
            continue;
        }
        if (std::chrono::steady_clock::now() < at_) {
            changed_.wait_until(guard, at_);
            continue;
        }
        // Armed and due: the signal may come just before the thread starts to wait, so it
        // comes again shortly until the thread disarms.
        ::pthread_kill(thread_, kInterruptSignal);
        at_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
    }
}

UsbMidiGadget::~UsbMidiGadget() { Close(); }

bool UsbMidiGadget::Open(const Settings& settings, SysExBlockHandler handler, std::string& error) {
    if (control_ >= 0) return false;
    settings_ = settings;
    handler_ = std::move(handler);
    // The controller's file is the one that is not an endpoint's ("dummy_udc", ...).
    std::string controller;
    std::error_code failed;
    for (const auto& entry : std::filesystem::directory_iterator(settings_.gadgetfs, failed)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("ep", 0) != 0) controller = entry.path().string();
    }
    if (controller.empty()) {
        error = "no USB device controller in " + settings_.gadgetfs +
                " (is gadgetfs mounted there while a controller is free?)";
        return false;
    }
    control_ = ::open(controller.c_str(), O_RDWR | O_CLOEXEC);
    if (control_ < 0) {
        error = "can't open " + controller + ": " + std::strerror(errno);
        return false;
    }
    Bytes setup{0, 0, 0, 0};  // tag 0: the device's descriptors
    const Bytes config = Configuration();
    const Bytes device = DeviceDescriptor();
    setup.insert(setup.end(), config.begin(), config.end());
    setup.insert(setup.end(), device.begin(), device.end());
    if (!wake_.Open() ||
        ::write(control_, setup.data(), setup.size()) != static_cast<ssize_t>(setup.size())) {
        error =
            "the USB device controller refused the device: " + std::string(std::strerror(errno));
        Close();
        return false;
    }
    controller_ = std::thread([this] { ControlLoop(); });
    return true;
}

void UsbMidiGadget::HoldReading(bool hold) {
    {
        std::lock_guard guard(holdLock_);
        held_ = hold;
    }
    holdChanged_.notify_all();
}

void UsbMidiGadget::Close() {
    {
        std::lock_guard guard(holdLock_);
        stopping_.store(true);
    }
    holdChanged_.notify_all();
    if (controller_.joinable()) {
        wake_.Wake();
        controller_.join();
    }
    {
        // The reader waits for the host's next packet with its endpoint locked.
        std::lock_guard guard(endpointsLock_);
        if (reader_.joinable()) {
            interrupter_.Arm(reader_.native_handle(), std::chrono::steady_clock::now());
            reader_.join();
            interrupter_.Disarm();
        }
    }
    // Closing the controller's file unplugs the device: every transfer waiting ends.
    if (control_ >= 0) ::close(control_);
    control_ = -1;
    DisableEndpoints();
    wake_.Close();
}

void UsbMidiGadget::ControlLoop() {
    pollfd fds[2] = {{control_, POLLIN, 0}, {wake_.ReadFd(), POLLIN, 0}};
    usb_gadgetfs_event events[5];
    while (true) {
        fds[0].revents = fds[1].revents = 0;
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents != 0) return;
        if (fds[0].revents == 0) continue;
        const ssize_t got = ::read(control_, events, sizeof events);
        if (got < 0) {
            // EIDRM: the host gave up a request; anything else: look again shortly.
            if (errno != EINTR && errno != EIDRM && errno != EAGAIN) ::usleep(10000);
            continue;
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(got) / sizeof events[0]; ++i) {
            if (events[i].type == GADGETFS_SETUP) HandleSetup(&events[i].u.setup);
        }
    }
}

void UsbMidiGadget::HandleSetup(const void* request) {
    usb_ctrlrequest setup;
    std::memcpy(&setup, request, sizeof setup);
    const unsigned value = le16toh(setup.wValue);
    const std::size_t length = le16toh(setup.wLength);
    std::uint8_t none = 0;
    if ((setup.bRequestType & USB_DIR_IN) != 0) {
        if (setup.bRequest == USB_REQ_GET_DESCRIPTOR && (value >> 8) == USB_DT_STRING) {
            const Bytes text = StringDescriptor(static_cast<std::uint8_t>(value & 0xFF), settings_);
            if (!text.empty()) {
                static_cast<void>(::write(control_, text.data(), std::min(text.size(), length)));
                return;
            }
        }
        static_cast<void>(::read(control_, &none, 0));  // a read stalls an IN request
        return;
    }
    if (setup.bRequest == USB_REQ_SET_CONFIGURATION) {
        // The endpoints are ready before the request is acknowledged.
        if (value != 0) EnableEndpoints();
        static_cast<void>(::read(control_, &none, 0));
    } else if (setup.bRequest == USB_REQ_SET_INTERFACE) {
        static_cast<void>(::read(control_, &none, 0));
    } else {
        static_cast<void>(::write(control_, &none, 0));  // a write stalls an OUT request
    }
}

void UsbMidiGadget::EnableEndpoints() {
    std::lock_guard guard(endpointsLock_);
    // Configured again while the endpoints work: they stay as they are. After a reset of the
    // bus the reader has ended, and they are made anew.
    if (out_ >= 0 && !readerEnded_.load()) return;
    CloseEndpoints();
    readerEnded_.store(false);
    out_ = OpenEndpoint(settings_.gadgetfs + "/ep2out-bulk", kOutAddress);
    const int in = OpenEndpoint(settings_.gadgetfs + "/ep1in-bulk", kInAddress);
    {
        std::lock_guard inGuard(inLock_);
        in_ = in;
    }
    if (out_ >= 0) reader_ = std::thread([this, fd = out_] { ReadLoop(fd); });
}

void UsbMidiGadget::DisableEndpoints() {
    std::lock_guard guard(endpointsLock_);
    CloseEndpoints();
}

void UsbMidiGadget::CloseEndpoints() {
    if (reader_.joinable()) reader_.join();  // ended by the unplugging or the reset
    if (out_ >= 0) ::close(out_);
    out_ = -1;
    std::lock_guard inGuard(inLock_);
    if (in_ >= 0) ::close(in_);
    in_ = -1;
}

void UsbMidiGadget::ReadLoop(int endpoint) {
    SysExAssembler assembler(handler_);
    std::uint8_t packets[kMaxPacket];
    Bytes bytes;
    auto due = std::chrono::steady_clock::now();
    while (true) {
        {
            std::unique_lock hold(holdLock_);
            holdChanged_.wait(hold, [this] { return !held_ || stopping_.load(); });
        }
        // Until this read is posted, the host's next packet waits (NAK): the line's pace.
        const ssize_t got = stopping_.load() ? -1 : ::read(endpoint, packets, sizeof packets);
        if (got < 0 && errno == EINTR && !stopping_.load()) continue;
        if (got < 0) break;  // unplugged, closed, or the bus was reset
        bytes.clear();
        DecodeUsbMidiPackets(packets, static_cast<std::size_t>(got), bytes);
        assembler.Feed(bytes.data(), bytes.size());
        KeepPace(due, bytes.size());
    }
    readerEnded_.store(true);
}

bool UsbMidiGadget::Send(const std::uint8_t* bytes, std::size_t length,
                         std::chrono::milliseconds timeout) {
    const Bytes packets = EncodeSysExPackets(bytes, length);
    std::lock_guard guard(inLock_);
    if (in_ < 0 || stopping_.load()) return false;
    auto due = std::chrono::steady_clock::now();
    interrupter_.Arm(::pthread_self(), due + timeout);
    bool sent = true;
    for (std::size_t at = 0; sent && at < packets.size(); at += kMaxPacket) {
        const std::size_t chunk = std::min<std::size_t>(kMaxPacket, packets.size() - at);
        sent = WriteAll(in_, packets.data() + at, chunk);
        KeepPace(due, chunk / kUsbMidiPacketSize * 3);
    }
    interrupter_.Disarm();
    return sent;
}

void UsbMidiGadget::KeepPace(std::chrono::steady_clock::time_point& due, std::size_t bytes) const {
    if (settings_.lineBytesPerSecond == 0 || bytes == 0) return;
    const auto now = std::chrono::steady_clock::now();
    due = std::max(due, now) + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(static_cast<double>(bytes) /
                                                                 settings_.lineBytesPerSecond));
    std::this_thread::sleep_until(due);
}

}  // namespace tq5::midi
