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
// and we say it in our own words; the program runs no other thread yet.
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
// messages); JACK through RtMidi.
bool IsReachable(midi::RtMidiSystem system) {
    QuietStderr quiet;
    if (system == midi::RtMidiSystem::Alsa) return midi::AlsaBackend::IsReachable();
    return midi::RtMidiBackend::IsReachable(system);
}

MidiSystem Reach(midi::RtMidiSystem system, const char* name) {
    if (!IsReachable(system)) return MidiSystem{nullptr, name, {}};
    if (system == midi::RtMidiSystem::Alsa) {
        return MidiSystem{std::make_unique<midi::AlsaBackend>(), name, {}};
    }
    return MidiSystem{std::make_unique<midi::RtMidiBackend>(system), name, {}};
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
