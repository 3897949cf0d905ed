#include "app/cli/midi_system.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "app/preferred_ports.hpp"
#include "midi/drivers/alsa/alsa_backend.hpp"
#include "midi/drivers/rtmidi/rtmidi_backend.hpp"
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

// ALSA through the sequencer driver of our own (its receiving clients take the largest
// messages); JACK through the backend's own client, which answers the question and stays
// to list the ports.
MidiSystem Reach(midi::RtMidiSystem system, const char* name) {
    QuietStderr quiet;
    if (system == midi::RtMidiSystem::Alsa) {
        if (!midi::AlsaBackend::IsReachable()) return MidiSystem{nullptr, name, {}};
        return MidiSystem{std::make_unique<midi::AlsaBackend>(), name, {}};
    }
    auto backend = std::make_unique<midi::RtMidiBackend>(system);
    if (!backend->Reachable()) return MidiSystem{nullptr, name, {}};
    return MidiSystem{std::move(backend), name, {}};
}

}  // namespace

MidiSystem OpenMidiSystem(MidiApi api) {
    if (api == MidiApi::Alsa) {
        MidiSystem alsa = Reach(midi::RtMidiSystem::Alsa, "ALSA");
        if (!alsa.backend) alsa.problem = "there is no ALSA sequencer (/dev/snd/seq)";
        return alsa;
    }
    if (api == MidiApi::Jack) {
        MidiSystem jack = Reach(midi::RtMidiSystem::Jack, "JACK");
        if (!jack.backend) jack.problem = "no JACK server is running";
        return jack;
    }
    MidiSystem alsa = Reach(midi::RtMidiSystem::Alsa, "ALSA");
    if (alsa.backend) return alsa;
    MidiSystem jack = Reach(midi::RtMidiSystem::Jack, "JACK");
    if (jack.backend) return jack;
    return MidiSystem{nullptr, {},
                      "no MIDI system found: no ALSA sequencer (/dev/snd/seq) and no JACK "
                      "server running"};
}

MidiSystem OpenSimulation(const CliOptions& options, int instanceNumber) {
    auto backend = std::make_unique<midi::VirtualMidiBackend>();
    // "VARN TQ Series", numbered from instance 2 on: a name this instance prefers.
    const std::string name = PreferredPortNames(instanceNumber)[2];
    sim::DeviceOptions device;
    device.id = options.deviceId;
    device.mode = options.deviceMode;
    backend->AddPair(name, name).HostDevice(device);
    return MidiSystem{std::move(backend), "virtual TQ-5", {}};
}

}  // namespace tq5::app::cli
