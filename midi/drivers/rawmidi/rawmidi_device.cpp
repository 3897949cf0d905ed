#include "midi/drivers/rawmidi/rawmidi_device.hpp"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

namespace tq5::midi {
namespace {

// snd-seq-midi gives each rawmidi device of a card 256 / 8 port numbers.
constexpr int kPortsPerDevice = 32;

// alsa-lib's error handler is the process's: it stays quiet only on the thread that opens a
// rawmidi device, and otherwise prints as alsa-lib's own does.
thread_local bool quiet = false;
std::once_flag handlerSet;

extern "C" void QuietWhileOpening(const char* file, int line, const char* function, int error,
                                  const char* format, ...) {
    if (quiet) return;
    std::va_list arguments;
    va_start(arguments, format);
    std::fprintf(stderr, "ALSA lib %s:%i:(%s) ", file, line, function);
    std::vfprintf(stderr, format, arguments);
    if (error != 0) std::fprintf(stderr, ": %s", snd_strerror(error));
    std::fputc('\n', stderr);
    va_end(arguments);
}

struct CtlCloser {
    void operator()(snd_ctl_t* ctl) const { snd_ctl_close(ctl); }
};

}  // namespace

std::string RawMidiAddress::Name() const {
    return "hw:" + std::to_string(card) + "," + std::to_string(device) + "," +
           std::to_string(subdevice);
}

std::optional<RawMidiAddress> FindCardPortDevice(int card, int port, const std::string& portName,
                                                 RawMidiDirection direction) {
    if (card < 0 || port < 0) return std::nullopt;
    const RawMidiAddress address{card, port / kPortsPerDevice, port % kPortsPerDevice};
    snd_ctl_t* opened = nullptr;
    if (snd_ctl_open(&opened, ("hw:" + std::to_string(card)).c_str(), 0) < 0) return std::nullopt;
    const std::unique_ptr<snd_ctl_t, CtlCloser> ctl(opened);
    snd_rawmidi_info_t* info = nullptr;
    snd_rawmidi_info_alloca(&info);
    snd_rawmidi_info_set_device(info, static_cast<unsigned int>(address.device));
    snd_rawmidi_info_set_subdevice(info, static_cast<unsigned int>(address.subdevice));
    snd_rawmidi_info_set_stream(info, direction == RawMidiDirection::Input
                                          ? SND_RAWMIDI_STREAM_INPUT
                                          : SND_RAWMIDI_STREAM_OUTPUT);
    if (snd_ctl_rawmidi_info(ctl.get(), info) < 0) return std::nullopt;
    // snd-seq-midi names the port after the subdevice when it has a name.
    const std::string subdeviceName = snd_rawmidi_info_get_subdevice_name(info);
    if (!subdeviceName.empty() && subdeviceName != portName) return std::nullopt;
    return address;
}

int OpenRawMidi(snd_rawmidi_t** input, snd_rawmidi_t** output, const std::string& name) {
    std::call_once(handlerSet, [] { snd_lib_error_set_handler(&QuietWhileOpening); });
    quiet = true;
    const int result = snd_rawmidi_open(input, output, name.c_str(), SND_RAWMIDI_NONBLOCK);
    quiet = false;
    return result;
}

std::string RawMidiOpenProblem(const std::string& name, int error) {
    const std::string device = "the port's MIDI device " + name;
    switch (-error) {
        case EBUSY:
            return device +
                   " is in use by another program (one that opened the card's MIDI port "
                   "directly, or a bridge such as a2jmidid); close that program and try again";
        case EACCES:
        case EPERM:
            return "this user may not open " + device +
                   " (on most systems the members of the group \"audio\" may, or the user "
                   "logged in at the computer)";
        case ENODEV:
        case ENOENT:
        case ENXIO:
            return device + " is gone (unplugged, or switched off)";
        default:
            return device + " can't be opened: " + snd_strerror(error);
    }
}

}  // namespace tq5::midi
