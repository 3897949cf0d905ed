#include "midi/drivers/alsa/alsa_sequencer.hpp"

#include "midi/sysex_assembler.hpp"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <sstream>

namespace tq5::midi {
namespace {

// alsa-lib's input buffer must hold a whole event with its data: room for the largest one
// that the input pool can take.
constexpr std::size_t kInputBufferBytes = 64 * 1024;

constexpr unsigned int kMidiPortTypes =
    SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SYNTH | SND_SEQ_PORT_TYPE_APPLICATION;

bool IsRealTime(snd_seq_event_type_t type) {
    switch (type) {
        case SND_SEQ_EVENT_CLOCK:
        case SND_SEQ_EVENT_TICK:
        case SND_SEQ_EVENT_START:
        case SND_SEQ_EVENT_CONTINUE:
        case SND_SEQ_EVENT_STOP:
        case SND_SEQ_EVENT_SENSING:
        case SND_SEQ_EVENT_RESET:
            return true;
        default:
            return false;
    }
}

// Events that carry no MIDI bytes: the sequencer's own notices about clients and ports.
bool IsNotice(snd_seq_event_type_t type) {
    return type >= SND_SEQ_EVENT_CLIENT_START && type <= SND_SEQ_EVENT_PORT_UNSUBSCRIBED;
}

}  // namespace

AlsaSequencer::AlsaSequencer(snd_seq_t* seq) : seq_(seq) {}

std::unique_ptr<AlsaSequencer> AlsaSequencer::Open(const std::string& clientName) {
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0 || seq == nullptr) {
        return nullptr;
    }
    snd_seq_set_client_name(seq, clientName.c_str());
    // A client that can't have the large pool still works for messages that fit the
    // default one; the same goes for the input buffer.
    snd_seq_set_client_pool_input(seq, kInputPoolCells);
    snd_seq_set_input_buffer_size(seq, kInputBufferBytes);
    return std::unique_ptr<AlsaSequencer>(new AlsaSequencer(seq));
}

AlsaSequencer::~AlsaSequencer() {
    StopReading();
    snd_seq_close(seq_);
}

bool AlsaSequencer::IsReachable() {
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0) return false;
    snd_seq_close(seq);
    return true;
}

int AlsaSequencer::ClientId() { return snd_seq_client_id(seq_); }

std::vector<AlsaPortEntry> AlsaSequencer::ListPorts(AlsaPortDirection direction) {
    const unsigned int wanted = direction == AlsaPortDirection::Readable
                                    ? SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                                    : SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    std::vector<AlsaPortEntry> ports;
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq_, client) >= 0) {
        const int clientId = snd_seq_client_info_get_client(client);
        if (clientId == SND_SEQ_CLIENT_SYSTEM) continue;
        snd_seq_port_info_set_client(port, clientId);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq_, port) >= 0) {
            if ((snd_seq_port_info_get_type(port) & kMidiPortTypes) == 0) continue;
            if ((snd_seq_port_info_get_capability(port) & wanted) != wanted) continue;
            const int portId = snd_seq_port_info_get_port(port);
            const std::string portName = snd_seq_port_info_get_name(port);
            std::ostringstream name;
            name << snd_seq_client_info_get_name(client) << ':' << portName << ' ' << clientId
                 << ':' << portId;
            const bool cardPort =
                snd_seq_client_info_get_type(client) == SND_SEQ_KERNEL_CLIENT &&
                (snd_seq_port_info_get_type(port) & SND_SEQ_PORT_TYPE_HARDWARE) != 0;
            ports.push_back(AlsaPortEntry{name.str(), AlsaPortAddress{clientId, portId}, portName,
                                          cardPort ? snd_seq_client_info_get_card(client) : -1});
        }
    }
    return ports;
}

int AlsaSequencer::CreateInputPort(const std::string& name) {
    return snd_seq_create_simple_port(
        seq_, name.c_str(), SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
}

int AlsaSequencer::CreateOutputPort(const std::string& name) {
    return snd_seq_create_simple_port(
        seq_, name.c_str(), SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
}

bool AlsaSequencer::ConnectFrom(AlsaPortAddress source, int ownPort) {
    return snd_seq_connect_from(seq_, ownPort, source.client, source.port) >= 0;
}

bool AlsaSequencer::ConnectTo(int ownPort, AlsaPortAddress destination) {
    return snd_seq_connect_to(seq_, ownPort, destination.client, destination.port) >= 0;
}

bool AlsaSequencer::SendSysEx(int ownPort, const std::uint8_t* bytes, std::size_t length,
                              std::uint32_t timeoutMs, const std::atomic<bool>* cancel) {
    if (bytes == nullptr || length == 0) return false;
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_seq_ev_set_source(&event, static_cast<unsigned char>(ownPort));
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    // The event only points at the bytes; the kernel copies them before the call returns.
    snd_seq_ev_set_sysex(&event, static_cast<unsigned int>(length),
                         const_cast<std::uint8_t*>(bytes));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        const int result = snd_seq_event_output_direct(seq_, &event);
        if (result >= 0) return true;
        // -EAGAIN: the receiver's pool is full for now. Anything else (-ENOMEM: the message
        // can never fit the receiver's pool; a port that went away) will not change.
        if (result != -EAGAIN) return false;
        if ((cancel != nullptr && cancel->load()) || std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool AlsaSequencer::StartReading(SysExHandler handler) {
    if (reader_.joinable()) return false;
    if (!wake_.Open()) return false;
    snd_seq_nonblock(seq_, 1);
    handler_ = std::move(handler);
    reader_ = std::thread([this] { ReadLoop(); });
    return true;
}

void AlsaSequencer::StopReading() {
    if (!reader_.joinable()) return;
    wake_.Wake();
    reader_.join();
    wake_.Close();
    handler_ = nullptr;
}

void AlsaSequencer::ReadLoop() {
    // The bytes of every SysEx event, and the end of an unfinished message that any other
    // event (but a real-time one) means, go through the reassembly every driver shares.
    SysExAssembler collector(handler_);
    const int seqFds = snd_seq_poll_descriptors_count(seq_, POLLIN);
    std::vector<pollfd> fds(static_cast<std::size_t>(seqFds) + 1);
    fds[0] = pollfd{wake_.ReadFd(), POLLIN, 0};
    snd_seq_poll_descriptors(seq_, fds.data() + 1, static_cast<unsigned int>(seqFds), POLLIN);
    while (true) {
        snd_seq_event_t* event = nullptr;
        const int result = snd_seq_event_input(seq_, &event);
        if (result == -ENOSPC) {
            collector.Reset();  // the kernel dropped events for want of room
            continue;
        }
        if (result >= 0 && event != nullptr) {
            if (event->type == SND_SEQ_EVENT_SYSEX) {
                collector.Feed(static_cast<const std::uint8_t*>(event->data.ext.ptr),
                               event->data.ext.len);
            } else if (!IsRealTime(event->type) && !IsNotice(event->type)) {
                collector.Reset();
            }
            continue;
        }
        // Nothing more to read for now. Any other failure is not expected from a local
        // sequencer: look again a little later rather than spin.
        const int waitMs = (result == -EAGAIN || result == -EINTR) ? -1 : 10;
        for (auto& fd : fds) fd.revents = 0;
        if (::poll(fds.data(), fds.size(), waitMs) < 0 && errno != EINTR) return;
        if (fds[0].revents != 0) return;
    }
}

}  // namespace tq5::midi
