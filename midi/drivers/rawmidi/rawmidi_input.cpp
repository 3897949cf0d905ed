#include "midi/drivers/rawmidi/rawmidi_input.hpp"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "midi/drivers/rawmidi/rawmidi_device.hpp"
#include "midi/sysex_assembler.hpp"

namespace tq5::midi {
namespace {

// What the reader takes per read: a USB MIDI device delivers a few hundred bytes at a time.
constexpr std::size_t kReadChunk = 4096;

bool IsGoneError(int error) { return error == -ENODEV || error == -ENXIO || error == -EBADFD; }

// How long the input must stay quiet after it has been started, and how long that may take
// at most, before what the device sent earlier counts as all come.
constexpr int kQuietMs = 20;
constexpr auto kMostStaleTime = std::chrono::milliseconds(300);

// Starts the input (a card's driver drops what arrives before the first poll or read has
// started it) and throws away what comes at once: a USB MIDI device keeps what it sent
// while nobody listened until the computer next asks, and a reply to a request of an
// earlier run, taken for an answer to this one's first request, would be counted twice.
// Nothing of this run's has been sent yet.
void DiscardStaleInput(snd_rawmidi_t* in) {
    std::vector<pollfd> fds(static_cast<std::size_t>(snd_rawmidi_poll_descriptors_count(in)));
    snd_rawmidi_poll_descriptors(in, fds.data(), static_cast<unsigned int>(fds.size()));
    const auto end = std::chrono::steady_clock::now() + kMostStaleTime;
    std::uint8_t chunk[kReadChunk];
    while (std::chrono::steady_clock::now() < end) {
        for (auto& fd : fds) fd.revents = 0;
        if (::poll(fds.data(), fds.size(), kQuietMs) <= 0) return;  // quiet (or failing)
        if (IsGoneError(static_cast<int>(snd_rawmidi_read(in, chunk, sizeof chunk)))) return;
    }
}

}  // namespace

RawMidiInput::~RawMidiInput() { Close(); }

bool RawMidiInput::Open(const std::string& name, SysExBlockHandler handler,
                        std::function<void()> onGone) {
    if (handle_ != nullptr) return false;
    snd_rawmidi_t* in = nullptr;
    const int opened = OpenRawMidi(&in, nullptr, name);
    {
        std::lock_guard guard(problemLock_);
        problem_ = opened < 0 ? RawMidiOpenProblem(name, opened) : std::string();
    }
    if (opened < 0 || in == nullptr) return false;
    // A device that can't have the large buffer still works for replies that fit its own.
    snd_rawmidi_params_t* params = nullptr;
    snd_rawmidi_params_alloca(&params);
    if (snd_rawmidi_params_current(in, params) >= 0 &&
        snd_rawmidi_params_set_buffer_size(in, params, kBufferBytes) >= 0) {
        static_cast<void>(snd_rawmidi_params(in, params));
    }
    if (!wake_.Open()) {
        snd_rawmidi_close(in);
        return false;
    }
    DiscardStaleInput(in);
    handle_ = in;
    gone_.store(false);
    reader_ = std::thread([this, handler = std::move(handler), onGone = std::move(onGone)] {
        ReadLoop(handler, onGone);
    });
    return true;
}

void RawMidiInput::Close() {
    if (handle_ == nullptr) return;
    wake_.Wake();
    reader_.join();
    wake_.Close();
    snd_rawmidi_close(handle_);
    handle_ = nullptr;
}

std::string RawMidiInput::Problem() const {
    std::lock_guard guard(problemLock_);
    return problem_;
}

void RawMidiInput::ReadLoop(SysExBlockHandler handler, std::function<void()> onGone) {
    SysExAssembler assembler(std::move(handler));
    const int count = snd_rawmidi_poll_descriptors_count(handle_);
    std::vector<pollfd> fds(static_cast<std::size_t>(count) + 1);
    fds[0] = pollfd{wake_.ReadFd(), POLLIN, 0};
    snd_rawmidi_poll_descriptors(handle_, fds.data() + 1, static_cast<unsigned int>(count));
    std::vector<std::uint8_t> chunk(kReadChunk);
    while (true) {
        const ssize_t read = snd_rawmidi_read(handle_, chunk.data(), chunk.size());
        if (read > 0) {
            assembler.Feed(chunk.data(), static_cast<std::size_t>(read));
            continue;
        }
        if (IsGoneError(static_cast<int>(read))) break;
        // Nothing to read for now (or a failure that waiting may mend: look again shortly).
        for (auto& fd : fds) fd.revents = 0;
        const int waitMs = (read == -EAGAIN || read == 0) ? -1 : 10;
        if (::poll(fds.data(), fds.size(), waitMs) < 0 && errno != EINTR) return;
        if (fds[0].revents != 0) return;
        // A disconnected card wakes every poll at once; its next read says ENODEV.
    }
    gone_.store(true);
    if (onGone) onGone();
}

}  // namespace tq5::midi
