#pragma once
// One in-process MIDI cable pair: an input port and an output port under their own names,
// and whatever sits at the far end (normally a hosted virtual TQ-5). The far end receives
// every message that leaves the output port; what it sends arrives at the input port.
//
// Faults for tests: refuse an open, fail sends, delay them, or never finish them.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/virtual_device.hpp"

namespace tq5::midi {

class VirtualInputDriver;
class VirtualOutputDriver;

class VirtualPortPair {
public:
    using Clock = std::chrono::steady_clock;
    using MessageSink = std::function<void(const std::uint8_t* bytes, std::size_t length)>;

    VirtualPortPair(std::string inputName, std::string outputName);
    ~VirtualPortPair();  // the hosted device goes first: no message arrives from it afterwards
    VirtualPortPair(const VirtualPortPair&) = delete;
    VirtualPortPair& operator=(const VirtualPortPair&) = delete;

    const std::string& InputName() const { return inputName_; }
    const std::string& OutputName() const { return outputName_; }

    // --- the far end ----------------------------------------------------------------------
    // Receives each message that leaves the output port (on the sending thread). Replaces
    // a hosted device. The sink may send to the input port (a loopback).
    void SetFarEnd(MessageSink sink);
    // Hosts a virtual TQ-5 at the far end, replacing whatever was there. It lives until it
    // is replaced or the pair goes. (virtual_port_pair_device.cpp, with the simulator.)
    sim::VirtualDevice& HostDevice(sim::DeviceOptions options = {});
    sim::VirtualDevice* Device();
    // The far end sends one message (any bytes: short messages and long SysEx too).
    void SendToInput(const std::uint8_t* bytes, std::size_t length);
    // The far end's platform hands back a receive buffer with an error (an incomplete or
    // invalid SysEx). The input driver returns the buffer and reception goes on.
    void SendErrorBlockToInput(const std::uint8_t* bytes, std::size_t length);

    // --- faults ---------------------------------------------------------------------------
    void SetRefuseInputOpen(bool refuse) { refuseInputOpen_.store(refuse); }
    void SetRefuseOutputOpen(bool refuse) { refuseOutputOpen_.store(refuse); }
    void SetFailSends(bool fail) { failSends_.store(fail); }
    // Each send takes this long before its bytes have left.
    void SetSendDelayMs(std::uint32_t delayMs) { sendDelayMs_.store(delayMs); }
    // Sends never finish: the port gives up after its bound, or Close ends the wait.
    void SetHoldSends(bool hold) { holdSends_.store(hold); }
    // A send returns once the far end holds the message, before its bytes have crossed a
    // hosted device's line, as through a kernel or a server that buffers them (the driver
    // then says so). By default a send returns when they have arrived, as on WinMM.
    void SetSendReturnsEarly(bool early) { sendReturnsEarly_.store(early); }
    bool SendReturnsEarly() const { return sendReturnsEarly_.load(); }

    // --- observations ---------------------------------------------------------------------
    // Every message that has left the output port, in order.
    std::vector<std::vector<std::uint8_t>> SentMessages() const;
    std::uint32_t InputOpenCount() const { return inputOpens_.load(); }
    std::uint32_t OutputOpenCount() const { return outputOpens_.load(); }
    bool InputIsOpen() const;
    bool OutputIsOpen() const;
    // Sends currently waiting for the line (held or delayed).
    std::uint32_t SendsWaiting() const { return sendsWaiting_.load(); }

private:
    friend class VirtualInputDriver;
    friend class VirtualOutputDriver;

    // What an input driver receives from the far end: one message, or an error block.
    using InputListener = std::function<void(std::vector<std::uint8_t> bytes, bool error)>;
    bool AttachInput(InputListener listener);  // false when refused or already open
    void DetachInput();                        // no listener call is in progress afterwards
    bool AttachOutput();
    void DetachOutput();
    void Deliver(const std::uint8_t* bytes, std::size_t length, bool error);
    // Hands a sent message to the far end; returns when its last byte will have arrived
    // there (a hosted device's line rate), which the send waits for.
    Clock::time_point PassToFarEnd(const std::uint8_t* bytes, std::size_t length);

    const std::string inputName_;
    const std::string outputName_;

    mutable std::mutex lock_;  // attachments and the sent log
    InputListener inputListener_;
    bool outputAttached_ = false;
    std::vector<std::vector<std::uint8_t>> sent_;

    std::mutex farEndLock_;  // held while the far end runs, so it is never replaced under it
    std::function<Clock::time_point(const std::uint8_t*, std::size_t)> farEnd_;
    // shared_ptr: its deleter comes from HostDevice, so the pair itself needs no simulator.
    std::shared_ptr<sim::VirtualDevice> device_;

    std::atomic<bool> refuseInputOpen_{false};
    std::atomic<bool> refuseOutputOpen_{false};
    std::atomic<bool> failSends_{false};
    std::atomic<bool> holdSends_{false};
    std::atomic<bool> sendReturnsEarly_{false};
    std::atomic<std::uint32_t> sendDelayMs_{0};
    std::atomic<std::uint32_t> inputOpens_{0};
    std::atomic<std::uint32_t> outputOpens_{0};
    std::atomic<std::uint32_t> sendsWaiting_{0};
};

}  // namespace tq5::midi
