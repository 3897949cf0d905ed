#pragma once
// The transport as the window assembles it: an output and an input port on one backend,
// the poll timer running the dispatcher (woken early by each arrival), and the update
// context that the procedures use.

#include <cstdint>

#include "engine/procedures/exchange.hpp"
#include "engine/state/dispatcher.hpp"
#include "engine/state/update_context.hpp"
#include "midi/driver.hpp"
#include "midi/dx_mtimer.hpp"
#include "midi/midi_in_port.hpp"
#include "midi/midi_out_port.hpp"
#include "protocol/device_messages.hpp"

namespace tq5::test {

struct Transport {
    engine::UpdateContext context;
    midi::MidiOutPort out;
    midi::MidiInPort in;
    midi::CDxMTimer timer;

    explicit Transport(midi::MidiBackend& backend)
        : out(backend.CreateOutput()), in(backend.CreateInput()) {
        context.SetOutput(&out);
        timer.Start(1, &Tick, reinterpret_cast<std::uintptr_t>(this));
        in.SetArrivalHook([this] { timer.RequestTick(); });
    }

    ~Transport() {
        in.SetArrivalHook(nullptr);
        timer.Stop();  // before anything a tick uses goes
        context.SetOutput(nullptr);
    }

    static void Tick(std::uint32_t, std::uint32_t, std::uintptr_t user, std::uintptr_t,
                     std::uintptr_t) {
        auto* self = reinterpret_cast<Transport*>(user);
        engine::DispatchReplies(self->context, self->in);
    }

    bool Open(std::int32_t outputIndex, std::int32_t inputIndex) {
        if (out.Open(outputIndex) != 1) return false;
        in.SetDeviceIndex(inputIndex);
        return in.Open() == 1;
    }

    // Sends one request and waits for its answer; the reply's status (0 for an identity or
    // read reply that passed), 1 for a broken read reply, or -1 when the send failed or
    // nothing came within `waitMs`.
    std::int32_t Exchange(const std::uint8_t* request, std::size_t length, std::uint32_t waitMs) {
        const protocol::RequestKind kind = protocol::ParseRequest(request, length).kind;
        const engine::Answer answer =
            kind == protocol::RequestKind::IdentityRequest ? engine::Answer::Identity
            : kind == protocol::RequestKind::ReadMemory    ? engine::Answer::Read
                                                           : engine::Answer::Status;
        if (!engine::SendRequest(context, request, length, answer)) return -1;
        const engine::Waited waited = engine::AwaitReply(context, waitMs);
        if (!waited.Answered()) return -1;
        return waited.reply.kind == engine::ReplyKind::ReadBroken ? 1 : waited.reply.status;
    }
};

}  // namespace tq5::test
