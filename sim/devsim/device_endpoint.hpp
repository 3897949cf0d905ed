#pragma once
// The virtual TQ-5 on two named virtual ports of a MIDI system: what arrives at "<name> in"
// goes to the device, the device's replies leave through "<name> out". On ALSA the ports
// belong to sequencer clients of our own (their input pool takes the largest messages), on
// JACK to RtMidi's. On a rawmidi device (the device side of a USB MIDI gadget) the device
// reads its requests from it and writes its replies to it; when the device vanishes (the
// gadget unplugged) it waits for it to come back, keeping its flash, as a TQ-5 with its own
// power supply does. As a USB device of its own (gadgetfs) it is plugged in while it runs.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/drivers/alsa/alsa_sequencer.hpp"
#include "midi/drivers/rawmidi/rawmidi_input.hpp"
#include "midi/drivers/rawmidi/rawmidi_output.hpp"
#include "midi/drivers/rtmidi/watched_midi.hpp"
#include "midi/drivers/usbgadget/usb_midi_gadget.hpp"
#include "midi/sysex_assembler.hpp"
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
    bool OpenAlsa(std::string& error);
    bool OpenRawMidi(std::string& error);
    bool OpenUsbGadget(std::string& error);
    bool OpenRawMidiDevice(std::string& error);
    void WatchRawMidi();
    static void OnMessage(double, std::vector<unsigned char>* message, void* user);
    void SendReply(const std::uint8_t* bytes, std::size_t length);

    VirtualDevice& device_;
    const DevsimOptions& options_;
    // Requests are read from the stream as any MIDI receiver reads it (MIDI thread only).
    midi::SysExAssembler requests_;
    std::unique_ptr<midi::WatchedMidi<RtMidiIn>> in_;
    std::mutex outLock_;  // the device's thread sends; closing takes the port away
    std::unique_ptr<midi::WatchedMidi<RtMidiOut>> out_;
    std::unique_ptr<midi::AlsaSequencer> alsaIn_;
    std::unique_ptr<midi::AlsaSequencer> alsaOut_;  // guarded by outLock_, as out_
    int alsaOutPort_ = -1;
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
