#pragma once
// Reads SysEx messages from a rawmidi device on a reader thread of its own, through the
// shared SysExAssembler. The device's buffer is enlarged far beyond a reply, so nothing the
// device sends in one burst is lost while the reader is busy. A device that vanishes (a USB
// MIDI device unplugged) ends the reader and is remembered as gone.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "midi/driver.hpp"
#include "midi/platform/wake_pipe.hpp"

struct _snd_rawmidi;

namespace tq5::midi {

class RawMidiInput {
public:
    RawMidiInput() = default;
    ~RawMidiInput();  // Close()
    RawMidiInput(const RawMidiInput&) = delete;
    RawMidiInput& operator=(const RawMidiInput&) = delete;

    // Opens the device (an alsa-lib name such as "hw:1,0,0") and starts the reader, which
    // hands each message to `handler` as SysExAssembler does. `onGone`, if given, is called on
    // the reader's thread when the device vanishes. False, with Problem() set, on failure.
    [[nodiscard]] bool Open(const std::string& name, SysExBlockHandler handler,
                            std::function<void()> onGone = {});
    // Ends the reader and closes the device; once it returns no handler is called again.
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }

    // True once the open device has vanished (until the next Open).
    bool Gone() const { return gone_.load(); }
    // Why the last Open failed, for the user; empty after a successful one.
    std::string Problem() const;

    // The device buffer asked for: room for several of the largest replies.
    static constexpr std::size_t kBufferBytes = 256 * 1024;

private:
    void ReadLoop(SysExBlockHandler handler, std::function<void()> onGone);

    _snd_rawmidi* handle_ = nullptr;
    std::thread reader_;
    WakePipe wake_;
    std::atomic<bool> gone_{false};
    mutable std::mutex problemLock_;
    std::string problem_;
};

}  // namespace tq5::midi
