#pragma once
// The virtual TQ-5 on two named ports of its own on a MIDI system (the systems of
// midi/drivers/midi_backends.hpp that make them): what arrives at "<name> in" goes to the
// device, the device's replies leave through "<name> out". On a rawmidi device (the device side of
// a USB MIDI gadget) the device reads its requests from it and writes its replies to it; when the
// device vanishes (the gadget unplugged) it waits for it to come back, keeping its flash, as a TQ-5
// with its own power supply does. As a USB device of its own (gadgetfs) it is plugged in while it
// runs.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/drivers/own_ports.hpp"
#include "midi/drivers/rawmidi/rawmidi_input.hpp"
#include "midi/drivers/rawmidi/rawmidi_output.hpp"
#include "midi/drivers/usbgadget/usb_midi_gadget.hpp"
#include "sim/devsim/devsim_options.hpp"
#include "sim/virtual_device.hpp"

namespace tq5::sim {

class DeviceEndpoint {
public:
    DeviceEndpoint(VirtualDevice& device, const DevsimOptions& options);
    ~DeviceEndpoint();  // closes both ports; the device sends nothing through them after
    DeviceEndpoint(const DeviceEndpoint&) = delete;
    DeviceEndpoint& operator=(const DeviceEndpoint&) = delete;

    // False, with a reason in `error`, when the MIDI system or its ports can't be had.
    [[nodiscard]] bool Open(std::string& error);

private:
    bool OpenOwnPorts(std::string& error);
    bool OpenRawMidi(std::string& error);
    bool OpenUsbGadget(std::string& error);
    bool OpenRawMidiDevice(std::string& error);
    void WatchRawMidi();
    void SendReply(const std::uint8_t* bytes, std::size_t length);

    VirtualDevice& device_;
    const DevsimOptions& options_;
    std::mutex outLock_;  // the device's thread sends; closing takes the ports away
    std::unique_ptr<midi::OwnPorts> ports_;  // on a MIDI system's ports
    midi::RawMidiInput rawIn_;
    midi::RawMidiOutput rawOut_;  // locks itself; reopened when the device comes back
    std::mutex watchLock_;
    std::condition_variable watchWake_;
    bool rawGone_ = false;   // under watchLock_
    bool stopping_ = false;  // under watchLock_
    std::thread watcher_;
    std::unique_ptr<midi::UsbMidiGadget> gadget_;  // --api usb-gadget only
};

}  // namespace tq5::sim
