#pragma once
// Sends SysEx messages to a rawmidi device. The device's buffer takes a whole message at
// once, and a send returns when the buffer is empty again: every byte has been handed to the
// card's driver (for USB MIDI, to the USB transfers that carry it to the device). A device
// that is slow to take them (a USB MIDI device in front of a 31,250-baud line) holds the
// send back; the bound of the send and Close on another thread end the wait. A device that
// vanishes fails the send and is remembered as gone.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "midi/platform/wake_pipe.hpp"

struct _snd_rawmidi;

namespace tq5::midi {

class RawMidiOutput {
public:
    RawMidiOutput() = default;
    ~RawMidiOutput();  // Close()
    RawMidiOutput(const RawMidiOutput&) = delete;
    RawMidiOutput& operator=(const RawMidiOutput&) = delete;

    // Opens the device (an alsa-lib name such as "hw:1,0,0"). False, with Problem() set, on
    // failure.
    [[nodiscard]] bool Open(const std::string& name);
    // Ends a send that waits (it fails), then closes the device. Any thread.
    void Close();
    bool IsOpen();

    // Writes one whole message and waits until the device's buffer has been emptied; false
    // when the device is not open, vanishes, is closed meanwhile, or has not taken every byte
    // within `timeoutMs`. The bytes are not read after it returns.
    [[nodiscard]] bool Send(const std::uint8_t* bytes, std::uint32_t length,
                            std::uint32_t timeoutMs);

    // True once the open device has vanished (until the next Open).
    bool Gone() const { return gone_.load(); }
    // Why the last Open failed, for the user; empty after a successful one.
    std::string Problem();

    // The device buffer asked for: several of the largest messages.
    static constexpr std::size_t kBufferBytes = 64 * 1024;

private:
    std::mutex lock_;  // held by a send throughout, and by Open and Close
    _snd_rawmidi* handle_ = nullptr;
    std::size_t bufferBytes_ = 0;
    WakePipe wake_;
    std::atomic<bool> closing_{false};
    std::atomic<bool> gone_{false};
    std::string problem_;
};

}  // namespace tq5::midi
