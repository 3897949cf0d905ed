#include "midi/drivers/rawmidi/rawmidi_output.hpp"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "midi/drivers/rawmidi/rawmidi_device.hpp"

namespace tq5::midi {
namespace {

using Clock = std::chrono::steady_clock;

// How long a wait for room goes without looking at the device's state itself.
constexpr int kLookMs = 50;

bool IsGoneError(long error) { return error == -ENODEV || error == -ENXIO || error == -EBADFD; }

}  // namespace

RawMidiOutput::~RawMidiOutput() { Close(); }

bool RawMidiOutput::Open(const std::string& name) {
    std::lock_guard guard(lock_);
    if (handle_ != nullptr) return false;
    snd_rawmidi_t* out = nullptr;
    const int opened = OpenRawMidi(nullptr, &out, name);
    problem_ = opened < 0 ? RawMidiOpenProblem(name, opened) : std::string();
    if (opened < 0 || out == nullptr) return false;
    // Room for a whole message, and "ready to write" only once the buffer is (all but one
    // byte, the most alsa-lib allows) empty: a send then writes its message in one piece and
    // learns from the same poll that it has left. No active sensing byte at close: nothing
    // but SysEx goes to the device.
    snd_rawmidi_params_t* params = nullptr;
    snd_rawmidi_params_alloca(&params);
    if (snd_rawmidi_params_current(out, params) < 0 ||
        (snd_rawmidi_params_set_buffer_size(out, params, kBufferBytes) < 0 &&
         snd_rawmidi_params_current(out, params) < 0)) {
        snd_rawmidi_close(out);
        return false;
    }
    bufferBytes_ = snd_rawmidi_params_get_buffer_size(params);
    snd_rawmidi_params_set_avail_min(out, params, bufferBytes_ - 1);
    snd_rawmidi_params_set_no_active_sensing(out, params, 1);
    if (snd_rawmidi_params(out, params) < 0 || !wake_.Open()) {
        snd_rawmidi_close(out);
        return false;
    }
    handle_ = out;
    closing_.store(false);
    gone_.store(false);
    return true;
}

void RawMidiOutput::Close() {
    closing_.store(true);
    wake_.Wake();  // a send that waits for room; a send that starts later sees `closing_`
    std::lock_guard guard(lock_);
    if (handle_ == nullptr) return;
    // What a send left in the buffer is given up: closing would otherwise wait (up to ten
    // seconds, in the kernel) for a device that does not take it.
    if (!gone_.load()) snd_rawmidi_drop(handle_);
    snd_rawmidi_close(handle_);
    handle_ = nullptr;
    wake_.Close();
}

bool RawMidiOutput::IsOpen() {
    std::lock_guard guard(lock_);
    return handle_ != nullptr;
}

std::string RawMidiOutput::Problem() {
    std::lock_guard guard(lock_);
    return problem_;
}

bool RawMidiOutput::Send(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t timeoutMs) {
    std::lock_guard guard(lock_);
    if (handle_ == nullptr || bytes == nullptr || length == 0 || closing_.load()) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int count = snd_rawmidi_poll_descriptors_count(handle_);
    std::vector<pollfd> fds(static_cast<std::size_t>(count) + 1);
    fds[0] = pollfd{wake_.ReadFd(), POLLIN, 0};
    snd_rawmidi_poll_descriptors(handle_, fds.data() + 1, static_cast<unsigned int>(count));
    snd_rawmidi_status_t* status = nullptr;
    snd_rawmidi_status_alloca(&status);

    std::size_t written = 0;
    while (true) {
        if (written < length) {
            const ssize_t result = snd_rawmidi_write(handle_, bytes + written, length - written);
            if (result > 0) {
                written += static_cast<std::size_t>(result);
                continue;
            }
            if (IsGoneError(result)) {
                gone_.store(true);
                return false;
            }
            if (result != -EAGAIN) return false;
        } else {
            const int state = snd_rawmidi_status(handle_, status);
            if (IsGoneError(state)) {
                gone_.store(true);
                return false;
            }
            if (state < 0) return false;
            const std::size_t pending = bufferBytes_ - snd_rawmidi_status_get_avail(status);
            if (pending == 0) return true;
            // The poll answers at once while one byte is left: look again a little later.
            if (pending == 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const auto now = Clock::now();
        if (now >= deadline || closing_.load()) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        for (auto& fd : fds) fd.revents = 0;
        const int waitMs = static_cast<int>(std::min<std::int64_t>(left.count() + 1, kLookMs));
        if (::poll(fds.data(), fds.size(), waitMs) < 0 && errno != EINTR) return false;
        if (fds[0].revents != 0) return false;  // Close
    }
}

}  // namespace tq5::midi
