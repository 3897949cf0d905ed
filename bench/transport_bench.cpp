// Round trip of an identity request through the transport as the window assembles it:
// output port, virtual driver, virtual TQ-5, input port, poll timer, dispatcher, reply event.
// Once with arrivals waking the timer early, once with the 1 ms poll alone.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "engine/state/dispatcher.hpp"
#include "engine/state/update_context.hpp"
#include "midi/drivers/virtual/virtual_backend.hpp"
#include "midi/dx_mtimer.hpp"
#include "midi/midi_in_port.hpp"
#include "midi/midi_out_port.hpp"
#include "protocol/messages.hpp"
#include "sim/port_pair_device.hpp"
#include "sim/virtual_device.hpp"

namespace {

using namespace tq5;

struct Rig {
    midi::VirtualMidiBackend backend;
    engine::UpdateContext context;
    midi::MidiOutPort out{backend.CreateOutput()};
    midi::MidiInPort in{backend.CreateInput()};
    midi::CDxMTimer timer;

    explicit Rig(bool wakeOnArrival) {
        sim::HostDevice(backend.AddPair("TQ-5", "TQ-5"));
        context.SetOutput(&out);
        timer.Start(1, &Tick, reinterpret_cast<std::uintptr_t>(this));
        if (wakeOnArrival) in.SetArrivalHook([this] { timer.RequestTick(); });
        out.Open(0);
        in.SetDeviceIndex(0);
        in.Open();
    }
    ~Rig() {
        in.SetArrivalHook(nullptr);
        timer.Stop();
        context.SetOutput(nullptr);
    }

    static void Tick(std::uint32_t, std::uint32_t, std::uintptr_t user, std::uintptr_t,
                     std::uintptr_t) {
        auto* rig = reinterpret_cast<Rig*>(user);
        engine::DispatchReplies(rig->context, rig->in);
    }
};

void IdentityRoundTrip(benchmark::State& state) {
    Rig rig(state.range(0) != 0);
    std::array<std::uint8_t, protocol::kIdentityRequestLength> request{};
    protocol::BuildIdentityRequest(request.data());
    rig.context.Await(engine::Answer::Identity);  // the dispatcher signals only what is awaited
    for (auto _ : state) {
        rig.context.Event().Reset();
        if (!rig.context.SendSysEx(request.data(), request.size())) state.SkipWithError("no send");
        if (!rig.context.Event().Wait(5000)) state.SkipWithError("no reply");
    }
}
BENCHMARK(IdentityRoundTrip)
    ->ArgName("wake_on_arrival")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
