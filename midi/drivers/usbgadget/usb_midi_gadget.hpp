#pragma once
// A USB MIDI device made in user space through Linux's gadgetfs, for a virtual TQ-5 that
// pushes back as a real one in front of a 31,250-baud line does: its OUT endpoint is read
// only at the line's pace, so the USB host controller is told to wait (NAK) and the
// computer's USB MIDI driver holds its writer back. (The kernel's own MIDI function, f_midi,
// takes everything at USB speed and drops what its reader has not taken.)
//
// Needs root, gadgetfs mounted (mount -t gadgetfs gadgetfs /dev/gadget) while a USB device
// controller is free, and that controller's endpoints "ep1in-bulk" and "ep2out-bulk"
// (dummy_hcd has them). One full-speed configuration: an audio control interface and a
// MIDI streaming interface with one MIDI IN and one MIDI OUT jack pair (cable 0).

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "midi/driver.hpp"
#include "midi/platform/wake_pipe.hpp"

namespace tq5::midi {

class UsbMidiGadget {
public:
    struct Settings {
        std::string gadgetfs = "/dev/gadget";  // where gadgetfs is mounted
        std::string manufacturer = "VARN";
        std::string product = "VARN TQ Series";
        std::uint32_t lineBytesPerSecond = 0;  // the pace of both directions; 0: USB speed
    };

    UsbMidiGadget() = default;
    ~UsbMidiGadget();  // Close()
    UsbMidiGadget(const UsbMidiGadget&) = delete;
    UsbMidiGadget& operator=(const UsbMidiGadget&) = delete;

    // Plugs the device in; SysEx messages from the host go to `handler` (on the endpoint
    // reader's thread) as SysExAssembler hands them. False, with `error` set, on failure.
    [[nodiscard]] bool Open(const Settings& settings, SysExBlockHandler handler,
                            std::string& error);
    // Unplugs the device; once it returns the handler is not called again.
    void Close();

    // While held, the OUT endpoint is not read: the host's transfers wait, as they do behind
    // a line that has stopped.
    void HoldReading(bool hold);

    // Sends one SysEx message to the host at the line's pace; false when the host has not
    // configured the device, does not take the message within `timeout` (no program reads
    // the device) or the transfer fails.
    bool Send(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds timeout);

private:
    // gadgetfs waits for a transfer with the endpoint's lock held, and unplugging the device
    // waits for that lock: a transfer the host never completes is ended by a signal to the
    // thread that waits for it. The interrupter sends it once the thread's time is up, and
    // again until the thread has moved on.
    class Interrupter {
    public:
        Interrupter();
        ~Interrupter();
        void Arm(pthread_t thread, std::chrono::steady_clock::time_point at);
        void Disarm();

    private:
        void Run();
        std::mutex lock_;
        std::condition_variable changed_;
        bool armed_ = false;
        bool stopping_ = false;
        pthread_t thread_{};
        std::chrono::steady_clock::time_point at_;
        std::thread runner_;
    };

    void ControlLoop();
    void HandleSetup(const void* request);
    void EnableEndpoints();
    void DisableEndpoints();
    void CloseEndpoints();  // under endpointsLock_
    void ReadLoop(int endpoint);
    void KeepPace(std::chrono::steady_clock::time_point& due, std::size_t bytes) const;

    Settings settings_;
    SysExBlockHandler handler_;
    int control_ = -1;  // the controller's file: configuration, then control requests
    WakePipe wake_;
    std::thread controller_;
    std::mutex endpointsLock_;  // the endpoints and their reader, changed by the controller
    int out_ = -1;              // host to device
    std::thread reader_;
    std::atomic<bool> readerEnded_{false};
    std::mutex inLock_;  // a send holds it; the controller takes the endpoint away under it
    int in_ = -1;        // device to host
    std::atomic<bool> stopping_{false};
    std::mutex holdLock_;
    std::condition_variable holdChanged_;
    bool held_ = false;  // under holdLock_
    Interrupter interrupter_;
};

}  // namespace tq5::midi
