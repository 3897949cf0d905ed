#pragma once
// One client of the ALSA sequencer, used directly rather than through RtMidi, because a
// receiving client must enlarge its input pool: with the kernel's default pool a single
// SysEx event longer than about 5.5 KB is never delivered, and RtMidi keeps its sequencer
// handle to itself. Also: a send whose event the receiver can't take is reported here
// instead of lingering in an output buffer ahead of every later message.
//
// A client has ports of its own; it can connect them to other clients' ports, send one
// SysEx message as one event, and run a reader thread that hands over SysEx messages
// reassembled from the events that carry them.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "midi/platform/wake_pipe.hpp"

struct _snd_seq;

namespace tq5::midi {

struct AlsaPortAddress {
    int client = -1;
    int port = -1;
};

// A port of another client as the port lists show it: "client:port client-id:port-id",
// the names RtMidi gives on ALSA, so that names and their unique parts stay the same.
struct AlsaPortEntry {
    std::string name;
    AlsaPortAddress address;
    std::string portName;  // the port's own name
    // The sound card behind a hardware port of a card's own client (snd-seq-midi's ports,
    // whose rawmidi devices can be spoken to directly); -1 for every other port.
    int card = -1;
};

enum class AlsaPortDirection {
    Readable,  // others can subscribe to what it sends: an input for us
    Writable,  // others can send to it: an output for us
};

class AlsaSequencer {
public:
    // Receives one SysEx piece (see StartReading) on the reader thread.
    using SysExHandler = std::function<void(const std::uint8_t* bytes, std::size_t length)>;

    // A new client named `clientName`; null when there is no sequencer (/dev/snd/seq).
    static std::unique_ptr<AlsaSequencer> Open(const std::string& clientName);
    ~AlsaSequencer();  // stops the reader, then closes the client and its ports
    AlsaSequencer(const AlsaSequencer&) = delete;
    AlsaSequencer& operator=(const AlsaSequencer&) = delete;

    [[nodiscard]] static bool IsReachable();

    // This client's number on the sequencer.
    int ClientId();

    // Other clients' MIDI ports in the order of the port lists (client 0, the system's
    // timer and announcements, left out).
    std::vector<AlsaPortEntry> ListPorts(AlsaPortDirection direction);

    // A port of this client; its number, or -1.
    int CreateInputPort(const std::string& name);   // receives: others may write to it
    int CreateOutputPort(const std::string& name);  // sends: others may subscribe to it
    [[nodiscard]] bool ConnectFrom(AlsaPortAddress source, int ownPort);
    [[nodiscard]] bool ConnectTo(int ownPort, AlsaPortAddress destination);

    // Sends one whole SysEx message as one event to the port's subscribers. A receiver whose
    // input pool is full for the moment is tried again every millisecond for up to
    // `timeoutMs`, unless `cancel` becomes true; false when it never took the message.
    [[nodiscard]] bool SendSysEx(int ownPort, const std::uint8_t* bytes, std::size_t length,
                                 std::uint32_t timeoutMs,
                                 const std::atomic<bool>* cancel = nullptr);

    // Starts the reader thread. Each SysEx message is handed over as midi::SysExAssembler
    // hands it: whole, or in blocks of kInputBlockSize bytes, only the first starting with
    // 0xF0. Other events are ignored, but all except real-time ones (clock, active sensing)
    // end an unfinished message, which is then dropped, as is one that lost events to an
    // overflow.
    [[nodiscard]] bool StartReading(SysExHandler handler);
    // Ends the reader; once this returns the handler is never called again.
    void StopReading();

    // Input pool of a receiving client, in cells of 28 bytes: the kernel's largest, room for
    // about six messages of 8,192 bytes (the default of 200 cells holds about 5.5 KB).
    static constexpr int kInputPoolCells = 2000;

private:
    explicit AlsaSequencer(_snd_seq* seq);
    void ReadLoop();

    _snd_seq* seq_;
    std::thread reader_;
    WakePipe wake_;
    SysExHandler handler_;
};

}  // namespace tq5::midi
