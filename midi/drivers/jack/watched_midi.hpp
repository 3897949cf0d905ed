#pragma once
// An RtMidi object whose every call is checked: exceptions and reported errors both come
// back as a failed call. Nothing RtMidi throws leaves a driver.

#include <rtmidi/RtMidi.h>

#include <memory>
#include <string>
#include <utility>

#include "midi/drivers/jack/rtmidi_errors.hpp"

namespace tq5::midi {

template <typename Midi>
class WatchedMidi {
public:
    // Null when RtMidi can't make a client for the API (no MIDI system).
    static std::unique_ptr<WatchedMidi> Create(RtMidi::Api api, const std::string& clientName) {
        try {
            auto watched = std::unique_ptr<WatchedMidi>(new WatchedMidi());
            watched->midi_ = std::make_unique<Midi>(api, clientName);
            watched->errors_.Watch(*watched->midi_);
            return watched;
        } catch (...) {
            return nullptr;
        }
    }

    ~WatchedMidi() {
        try {
            midi_.reset();
        } catch (...) {  // a destructor that reports an error must not end the program
        }
    }

    // Runs `call(midi)`; false if it threw or RtMidi reported an error meanwhile.
    template <typename Call>
    [[nodiscard]] bool Run(Call&& call) {
        errors_.Clear();
        try {
            std::forward<Call>(call)(*midi_);
        } catch (...) {
            return false;
        }
        return !errors_.Raised();
    }

private:
    WatchedMidi() = default;

    std::unique_ptr<Midi> midi_;
    RtMidiErrorFlag errors_;
};

}  // namespace tq5::midi
