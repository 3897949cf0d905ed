#pragma once
// Finding the TQ-5 among the MIDI ports when none is named and none carries a preferred name:
// the universal identity request goes to one output at a time while every input listens, and
// an input that answers is paired with that output once a second request to the same output
// is answered there again (so a late answer to the output asked before is never taken for
// this one). Nothing but the identity request is sent anywhere.

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "midi/driver.hpp"
#include "protocol/messages.hpp"

namespace tq5::app::cli {

// A device that answered: the output it was asked through, the input its answer came on.
struct AnsweringDevice {
    std::int32_t output = -1;
    std::int32_t input = -1;
    protocol::DeviceId id{};
};

struct SearchResult {
    std::vector<AnsweringDevice> tq5s;    // answered with an id the updater accepts
    std::vector<AnsweringDevice> others;  // answered with another id: not a TQ-5
    std::size_t outputsAsked = 0;         // outputs that could be opened and sent to
    std::size_t inputsHeard = 0;          // inputs that could be opened
    bool stopped = false;                 // `stop` said so before the end
};

struct SearchTiming {
    // How long an output's answers are awaited; a TQ-5 answers within milliseconds.
    std::chrono::milliseconds window{300};
    // Once one answer is in, how long the other inputs still get.
    std::chrono::milliseconds afterFirstAnswer{50};
};

// Asks each output of `outputs` (device indexes of `backend`) while listening on every input
// of `inputs`. `stop` is asked between the steps (e.g. Ctrl-C).
SearchResult SearchForDevices(midi::MidiBackend& backend, const std::vector<std::int32_t>& outputs,
                              const std::vector<std::int32_t>& inputs,
                              const std::function<bool()>& stop, SearchTiming timing = {});

// The devices of `found` that fit the ports already chosen (-1: not chosen).
std::vector<AnsweringDevice> DevicesOn(const std::vector<AnsweringDevice>& found,
                                       std::int32_t output, std::int32_t input);

// 0, 1, ..., count - 1; or only `chosen` when it is not -1.
std::vector<std::int32_t> PortsToSearch(std::size_t count, std::int32_t chosen);

}  // namespace tq5::app::cli
