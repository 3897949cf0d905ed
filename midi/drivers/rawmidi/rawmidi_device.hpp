#pragma once
// A rawmidi device of a sound card (hw:CARD,DEVICE,SUBDEVICE): where a card's sequencer
// port really leads, and what to tell the user when it can't be opened.
//
// The kernel's sequencer reaches a card's MIDI port through snd-seq-midi, which copies each
// event into the port's rawmidi buffer (4,096 bytes by default) inside the sender's call and
// drops what does not fit, and reads the device through a buffer of the same size. Long
// SysEx messages lose their tails both ways. Spoken to directly, the rawmidi device takes a
// whole message into a buffer of our size, blocks its writer while the device is slow, and
// keeps everything it has received until it is read.

#include <optional>
#include <string>

struct _snd_rawmidi;

namespace tq5::midi {

struct RawMidiAddress {
    int card = -1;
    int device = 0;
    int subdevice = 0;

    // The name alsa-lib opens it by: "hw:1,0,0".
    std::string Name() const;
};

enum class RawMidiDirection { Input, Output };

// The rawmidi subdevice behind port `port` of the sequencer client of card `card`
// (snd-seq-midi numbers a card's ports 32 to a rawmidi device, one per subdevice), if it
// exists in that direction and carries the port's name. Nothing otherwise: the port is then
// spoken to through the sequencer.
std::optional<RawMidiAddress> FindCardPortDevice(int card, int port, const std::string& portName,
                                                 RawMidiDirection direction);

// Why opening `name` failed with alsa-lib's `error` (a negative errno), in words for the
// user: a device another program holds, one this user may not open, one that is gone.
std::string RawMidiOpenProblem(const std::string& name, int error);

// Opens `name` (alsa-lib's snd_rawmidi_open, non-blocking, one direction) without alsa-lib's
// own complaint on stderr when it can't: the caller says why in its own words. 0 or a
// negative errno.
int OpenRawMidi(_snd_rawmidi** input, _snd_rawmidi** output, const std::string& name);

}  // namespace tq5::midi
