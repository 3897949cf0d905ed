#pragma once
// RtMidi's errors as a flag that a driver checks after each call, instead of messages on
// stderr and exceptions thrown through our threads.

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <string>

namespace tq5::midi {

class RtMidiErrorFlag {
public:
    // Registers with `midi`; from now on its errors set this flag and never throw.
    void Watch(RtMidi& midi) { midi.setErrorCallback(&RtMidiErrorFlag::OnError, this); }

    void Clear() { raised_.store(false); }
    // True if an error was reported since the last Clear.
    bool Raised() const { return raised_.load(); }

private:
    static void OnError(RtMidiError::Type, const std::string&, void* user) {
        static_cast<RtMidiErrorFlag*>(user)->raised_.store(true);
    }

    std::atomic<bool> raised_{false};
};

}  // namespace tq5::midi
