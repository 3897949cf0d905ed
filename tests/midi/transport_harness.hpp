#pragma once
// The transport as the window assembles it: an output and an input port on one backend,
// the poll timer running the dispatcher (woken early by each arrival), and the update
// context that the procedures use.

#include <cstdint>

#include "engine/state/dispatcher.hpp"
#include "engine/state/update_context.hpp"
#include "midi/driver.hpp"
#include "midi/dx_mtimer.hpp"
#include "midi/midi_in_port.hpp"
#include "midi/midi_out_port.hpp"

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

    // Sends one request and waits for the dispatcher's signal; the reply's status, or -1
    // when the send failed or nothing came within `waitMs`.
    std::int32_t Exchange(const std::uint8_t* request, std::size_t length, std::uint32_t waitMs) {
        context.Event().Reset();
        if (context.SendSysEx(request, length) != 0) return -1;
        if (!context.Event().Wait(waitMs)) return -1;
        return context.Status();
    }
};

}  // namespace tq5::test
