#include "app/cli/midi_system.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "app/cli/midi_backends.hpp"
#include "app/preferred_ports.hpp"
#include "midi/drivers/virtual/virtual_midi_backend.hpp"

namespace tq5::app::cli {
namespace {

// While a MIDI system is probed, the libraries under RtMidi (alsa-lib, libjack) print their
// own complaints straight to stderr when the system is not there. The answer is all we need,
// and we say it in our own words. (Only the interrupt watcher runs beside it, and it writes
// to a copy of stderr of its own.)
class QuietStderr {
public:
    QuietStderr() {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, 2);
            ::close(null);
        }
    }
    ~QuietStderr() {
        std::fflush(stderr);
        if (saved_ >= 0) {
            ::dup2(saved_, 2);
            ::close(saved_);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_ = -1;
};

MidiSystem Reach(const MidiBackendEntry& entry) {
    QuietStderr quiet;
    return MidiSystem{entry.open(), std::string(entry.name), {}};
}

}  // namespace

MidiSystem OpenMidiSystem(std::string_view api) {
    if (!api.empty()) {
        const MidiBackendEntry* entry = FindMidiBackend(api);
        if (entry == nullptr) {
            return MidiSystem{nullptr, {}, "no MIDI system is called " + std::string(api)};
        }
        MidiSystem chosen = Reach(*entry);
        if (!chosen.backend) chosen.problem = entry->absent;
        return chosen;
    }
    for (const MidiBackendEntry& entry : MidiBackends()) {
        MidiSystem system = Reach(entry);
        if (system.backend) return system;
    }
    return MidiSystem{nullptr,
                      {},
                      "no MIDI system found: " +
                          JoinMidiBackends(&MidiBackendEntry::absentInList, ", ", " and ")};
}

MidiSystem OpenSimulation(const CliOptions& options, int instanceNumber) {
    auto backend = std::make_unique<midi::VirtualMidiBackend>();
    // "VARN TQ Series", numbered from instance 2 on: a name this instance prefers.
    const std::string name =
        options.devicePort.empty() ? PreferredPortNames(instanceNumber)[2] : options.devicePort;
    sim::DeviceOptions device;
    device.id = options.deviceId;
    device.mode = options.deviceMode;
    device.faults = options.deviceFaults;
    backend->AddPair(name, name).HostDevice(device);
    return MidiSystem{std::move(backend), "virtual TQ-5", {}};
}

}  // namespace tq5::app::cli
