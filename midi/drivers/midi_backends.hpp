#pragma once
// The MIDI systems the Linux programs talk through, in the order tq5-updater tries them when
// none is chosen. tq5-updater's --api values, their help, the usage line, the choice without
// --api and the words for a system that is not there, and the systems tq5-devsim serves its
// own ports on, all come from this one list: another backend is one more entry.

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "midi/driver.hpp"
#include "midi/drivers/own_ports.hpp"

namespace tq5::midi {

struct MidiBackendEntry {
    std::string_view option;        // its --api value: "alsa"
    std::string_view name;          // how the program names it: "ALSA"
    std::string_view absent;        // when it was chosen: "there is no ALSA sequencer ..."
    std::string_view absentInList;  // among all: "no ALSA sequencer (/dev/snd/seq)"
    // The backend under `clientName` if its system answers, else null: every backend's
    // static Open. Asking and making are one step: on JACK the question is answered by the
    // client the backend keeps to list the ports.
    std::unique_ptr<MidiBackend> (*open)(std::string clientName);
    // Opens two ports of the program's own on the system, where the system makes them
    // (tq5-devsim serves on them); null where it can't.
    OpenOwnPortsFunction openOwnPorts;
};

std::span<const MidiBackendEntry> MidiBackends();

// The entry whose --api value is `option`, or null.
const MidiBackendEntry* FindMidiBackend(std::string_view option);

// One text field of every entry, in order, joined: the --api values for people ("alsa or
// jack": separator ", ", lastSeparator " or ") or for the usage line ("alsa|jack").
std::string JoinMidiBackends(std::string_view MidiBackendEntry::*field, std::string_view separator,
                             std::string_view lastSeparator);

}  // namespace tq5::midi
