#include "app/cli/device_search.hpp"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "engine/procedures/identify_device.hpp"
#include "midi/midi_in_port.hpp"
#include "midi/midi_out_port.hpp"

namespace tq5::app::cli {
namespace {

using Clock = std::chrono::steady_clock;

// A six-byte request needs milliseconds; a send that takes longer has a stuck system behind
// it, and the search goes on without that output.
constexpr std::uint32_t kRequestSendBoundMs = 1000;

struct Answer {
    std::int32_t input;
    protocol::DeviceId id;
};

// Every input of the search, open at once; each arrival wakes the search.
class Listeners {
public:
    Listeners(midi::MidiBackend& backend, const std::vector<std::int32_t>& inputs) {
        for (const std::int32_t index : inputs) {
            auto port = std::make_unique<midi::MidiInPort>(backend.CreateInput());
            port->SetDeviceIndex(index);
            if (port->Open() != 1) continue;  // busy or gone: it is not heard
            port->SetArrivalHook([this] {
                {
                    std::lock_guard guard(lock_);
                    ++arrivals_;
                }
                arrived_.notify_all();
            });
            ports_.emplace_back(index, std::move(port));
        }
    }
    ~Listeners() {
        for (auto& [index, port] : ports_) {
            port->SetArrivalHook(nullptr);
            port->Close();
        }
    }
    Listeners(const Listeners&) = delete;
    Listeners& operator=(const Listeners&) = delete;

    std::size_t Count() const { return ports_.size(); }

    // Forgets whatever has come so far (answers to an earlier request among it).
    void Drain() {
        for (auto& [index, port] : ports_) {
            while (port->PeekReceived() != nullptr) port->PopReceived();
        }
    }

    // The identity replies that come until `until`, one per input; once the first is in, the
    // others get `afterFirst` more.
    std::vector<Answer> Collect(Clock::time_point until, std::chrono::milliseconds afterFirst) {
        std::vector<Answer> answers;
        Clock::time_point deadline = until;
        for (;;) {
            std::uint64_t seen = 0;
            {
                std::lock_guard guard(lock_);
                seen = arrivals_;
            }
            const bool hadAnswers = !answers.empty();
            for (auto& [index, port] : ports_) TakeAnswers(index, *port, answers);
            if (!hadAnswers && !answers.empty()) {
                deadline = std::min(deadline, Clock::now() + afterFirst);
            }
            if (Clock::now() >= deadline) return answers;
            std::unique_lock guard(lock_);
            arrived_.wait_until(guard, deadline, [&] { return arrivals_ != seen; });
        }
    }

private:
    static void TakeAnswers(std::int32_t index, midi::MidiInPort& port,
                            std::vector<Answer>& answers) {
        std::size_t length = 0;
        while (const std::uint8_t* bytes = port.PeekReceived(&length)) {
            const protocol::ClassifiedMessage m = protocol::ClassifyMessage(bytes, length);
            const bool known = std::any_of(answers.begin(), answers.end(),
                                           [&](const Answer& a) { return a.input == index; });
            if (m.kind == protocol::MessageClass::IdentityReply && !known) {
                answers.push_back({index, m.deviceId});
            }
            port.PopReceived();
        }
    }

    std::mutex lock_;
    std::condition_variable arrived_;
    std::uint64_t arrivals_ = 0;
    std::vector<std::pair<std::int32_t, std::unique_ptr<midi::MidiInPort>>> ports_;
};

// Sends the identity request to `output` alone and collects the answers; nothing when the
// output could not be opened or the request did not leave.
std::optional<std::vector<Answer>> Ask(midi::MidiBackend& backend, Listeners& listeners,
                                       std::int32_t output, const SearchTiming& timing) {
    listeners.Drain();
    midi::MidiOutPort port(backend.CreateOutput(), kRequestSendBoundMs);
    if (port.Open(output) != 1) return std::nullopt;
    std::array<std::uint8_t, protocol::kIdentityRequestLength> request{};
    const std::size_t length = protocol::BuildIdentityRequest(request.data());
    if (port.SendLong(request.data(), static_cast<std::uint32_t>(length)) != 1) {
        return std::nullopt;
    }
    std::vector<Answer> answers =
        listeners.Collect(Clock::now() + timing.window, timing.afterFirstAnswer);
    port.Close();
    return answers;
}

bool IsAccepted(const protocol::DeviceId& id) {
    return std::find(engine::kAcceptedDeviceIds.begin(), engine::kAcceptedDeviceIds.end(), id) !=
           engine::kAcceptedDeviceIds.end();
}

}  // namespace

SearchResult SearchForDevices(midi::MidiBackend& backend, const std::vector<std::int32_t>& outputs,
                              const std::vector<std::int32_t>& inputs,
                              const std::function<bool()>& stop, SearchTiming timing) {
    SearchResult result;
    Listeners listeners(backend, inputs);
    result.inputsHeard = listeners.Count();
    if (listeners.Count() == 0) return result;  // no answer could be heard: ask nobody
    for (const std::int32_t output : outputs) {
        if (stop && stop()) {
            result.stopped = true;
            return result;
        }
        const std::optional<std::vector<Answer>> first = Ask(backend, listeners, output, timing);
        if (!first) continue;
        ++result.outputsAsked;
        if (first->empty()) continue;
        // Asked again on its own: an input that answers both times answers this output.
        const std::optional<std::vector<Answer>> again = Ask(backend, listeners, output, timing);
        if (!again) continue;
        for (const Answer& answer : *first) {
            const bool confirmed = std::any_of(again->begin(), again->end(), [&](const Answer& a) {
                return a.input == answer.input && a.id == answer.id;
            });
            if (!confirmed) continue;
            auto& list = IsAccepted(answer.id) ? result.tq5s : result.others;
            list.push_back({output, answer.input, answer.id});
        }
    }
    return result;
}

std::vector<AnsweringDevice> DevicesOn(const std::vector<AnsweringDevice>& found,
                                       std::int32_t output, std::int32_t input) {
    std::vector<AnsweringDevice> fitting;
    for (const AnsweringDevice& device : found) {
        if ((output < 0 || device.output == output) && (input < 0 || device.input == input)) {
            fitting.push_back(device);
        }
    }
    return fitting;
}

std::vector<std::int32_t> PortsToSearch(std::size_t count, std::int32_t chosen) {
    if (chosen >= 0) return {chosen};
    std::vector<std::int32_t> all;
    for (std::size_t i = 0; i < count; ++i) all.push_back(static_cast<std::int32_t>(i));
    return all;
}

}  // namespace tq5::app::cli
