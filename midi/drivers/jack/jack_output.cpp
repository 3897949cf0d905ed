#include "midi/drivers/jack/jack_output.hpp"

#include <jack/midiport.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace tq5::midi {
namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting send looks at the server's state between wake-ups: the shutdown
// callback runs on a thread of libjack's and sets only a flag.
constexpr auto kWatchSlice = std::chrono::milliseconds(20);

}  // namespace

JackOutputDriver::JackOutputDriver(std::shared_ptr<JackClient> client)
    : client_(std::move(client)), listed_([this] { return client_->MidiPorts(JackPortIsInput); }) {}

JackOutputDriver::~JackOutputDriver() { Close(); }

std::uint32_t JackOutputDriver::GetDeviceCount() { return listed_.Count(); }

std::string JackOutputDriver::GetDeviceName(std::uint32_t index) { return listed_.Name(index); }

bool JackOutputDriver::Open(std::int32_t index) {
    std::lock_guard guard(lifecycleLock_);
    if (open_.load() || index < 0) return false;
    const std::string destination = listed_.Chosen(index);
    if (destination.empty()) return false;
    slot_.store(kEmpty);
    stalled_.store(false);
    if (!client_->StartOutput(destination, *this)) return false;
    open_.store(true);
    return true;
}

void JackOutputDriver::Close() {
    closing_.store(true);
    wake_.release();
    {
        std::lock_guard sending(sendLock_);  // a waiting send has seen the close and left
        std::lock_guard guard(lifecycleLock_);
        if (open_.load()) {
            client_->StopOutput();  // the process thread is done with this driver
            open_.store(false);
        }
    }
    closing_.store(false);
}

bool JackOutputDriver::Withdraw() {
    int posted = kPosted;
    return slot_.compare_exchange_strong(posted, kEmpty);
}

bool JackOutputDriver::Send(const std::uint8_t* bytes, std::uint32_t length,
                            std::uint32_t timeoutMs) {
    std::lock_guard sending(sendLock_);
    if (!open_.load() || closing_.load() || bytes == nullptr || length == 0) return false;
    if (client_->ServerGone()) return false;
    if (stalled_.load() && cycles_.load() == stalledAt_.load()) return false;
    while (wake_.try_acquire()) {
    }

    pending_ = bytes;
    pendingLength_ = length;
    slot_.store(kPosted);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int state = slot_.load();
        if (state == kSent || state == kRefused) {
            slot_.store(kEmpty);
            stalled_.store(false);
            return state == kSent;
        }
        const bool closing = closing_.load() || client_->ServerGone();
        const Clock::time_point now = Clock::now();
        if (closing || now >= deadline) {
            if (Withdraw()) {
                if (!closing) {
                    stalled_.store(true);
                    stalledAt_.store(cycles_.load());
                }
                return false;  // the message never left, and never will
            }
            // The process thread is copying it right now; its verdict follows at once.
            wake_.try_acquire_for(std::chrono::milliseconds(1));
            continue;
        }
        wake_.try_acquire_for(std::min<Clock::duration>(deadline - now, kWatchSlice));
    }
}

void JackOutputDriver::Process(void* portBuffer) {
    cycles_.fetch_add(1);
    int posted = kPosted;
    if (!slot_.compare_exchange_strong(posted, kTaking)) return;
    // A message that does not fit into an empty port buffer never will: it is refused
    // rather than dropped in silence.
    jack_midi_data_t* event = jack_midi_event_reserve(portBuffer, 0, pendingLength_);
    if (event != nullptr) std::memcpy(event, pending_, pendingLength_);
    slot_.store(event != nullptr ? kSent : kRefused);
    wake_.release();
}

}  // namespace tq5::midi
