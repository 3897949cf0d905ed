// A full firmware update (all ten rows, with the read-back check) over USB MIDI in the guest
// kernel (tools/guest/ with --usb-midi): the virtual TQ-5 on the device side of the kernel's
// own USB MIDI gadget (its rawmidi device, as `tq5-devsim --api rawmidi` serves), the
// updater's core on the computer's side through the ALSA backend (the card's port leads to
// its rawmidi device), as tq5-updater runs it. The guest is emulated, so its times mean
// little alone; each is also given as a multiple of a bare round trip over the same device in
// the same run: a 4,718-byte SysEx message (a write block) out through the updater's ports,
// echoed by the device side as it arrives, and back into the updater's input port.
//
//   BM_UsbRoundTrip   counters: round_trip_p50_us, round_trip_p99_us
//   BM_UpdateOverUsb  counters (per update): exchanges, wall_ms, exchange_p50_us,
//                     exchange_p99_us, lost_per_update, round_trip_p50_us,
//                     exchange_per_round_trip
//
//   cmake --build build/release --target usb_update_bench
//   tools/guest/run-in-guest.sh --usb-midi --root --no-virmidi --
//   build/release/bench/usb_update_bench

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/device_updates.hpp"
#include "bench/update_run.hpp"
#include "midi/drivers/alsa/alsa_backend.hpp"
#include "midi/drivers/rawmidi/rawmidi_input.hpp"
#include "midi/drivers/rawmidi/rawmidi_output.hpp"
#include "midi/midi_in_port.hpp"
#include "midi/midi_out_port.hpp"
#include "sim/devsim/device_endpoint.hpp"
#include "sim/virtual_device.hpp"

namespace {

using namespace tq5;
using Clock = std::chrono::steady_clock;

constexpr int kRoundTrips = 100;
constexpr std::size_t kBlockMessage = 4718;
const std::string kDeviceSide = "hw:TQ5gadget,0";
const std::string kPort = "VARN TQ Series";

template <typename Port>
std::int32_t FindPort(Port& port) {
    for (std::uint32_t i = 0; i < port.GetDeviceCount(); ++i) {
        if (port.GetFullDeviceName(i).rfind(kPort + ":", 0) == 0) return static_cast<int>(i);
    }
    return -1;
}

// Round trips of a write block over the USB device, in microseconds; nothing when there is no
// such device.
std::vector<double> MeasureRoundTrips(int count) {
    midi::RawMidiOutput echoOut;
    midi::RawMidiInput echoIn;
    if (!echoOut.Open(kDeviceSide)) return {};
    const bool echoing = echoIn.Open(kDeviceSide, [&](const std::uint8_t* bytes, std::size_t n) {
        // A message that can't go back shows as a lost round trip below.
        [[maybe_unused]] const bool sent = echoOut.Send(bytes, static_cast<std::uint32_t>(n), 5000);
    });
    if (!echoing) return {};
    midi::AlsaBackend backend("tq5-bench");
    midi::MidiOutPort out(backend.CreateOutput());
    midi::MidiInPort in(backend.CreateInput());
    in.SetDeviceIndex(FindPort(in));
    if (out.Open(FindPort(out)) != 1 || in.Open() != 1) return {};

    std::vector<std::uint8_t> message(kBlockMessage);
    for (std::size_t i = 0; i < message.size(); ++i) message[i] = (i * 29 + 3) & 0x7F;
    message.front() = 0xF0;
    message.back() = 0xF7;
    std::vector<double> us;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (out.SendLong(message.data(), static_cast<std::uint32_t>(message.size())) != 1) {
            return {};
        }
        while (in.QueuedCount() == 0) {
            if (Clock::now() - start > std::chrono::seconds(5)) return {};
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        in.PopReceived();
    }
    return us;
}

constexpr const char* kNoDevice =
    "no USB MIDI gadget: run in the guest (tools/guest/run-in-guest.sh --usb-midi --root)";

void BM_UsbRoundTrip(benchmark::State& state) {
    std::vector<double> all;
    for (auto _ : state) {
        const std::vector<double> us = MeasureRoundTrips(kRoundTrips);
        if (us.empty()) {
            state.SkipWithError(kNoDevice);
            break;
        }
        all.insert(all.end(), us.begin(), us.end());
    }
    state.counters["round_trip_p50_us"] = bench::Percentile(all, 0.50);
    state.counters["round_trip_p99_us"] = bench::Percentile(all, 0.99);
}
BENCHMARK(BM_UsbRoundTrip)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_UpdateOverUsb(benchmark::State& state) {
    const std::vector<double> roundTrips = MeasureRoundTrips(kRoundTrips);
    if (roundTrips.empty()) return bench::SkipAll(state, kNoDevice);
    sim::VirtualDevice device;
    sim::DevsimOptions endpointOptions;
    endpointOptions.api = sim::DevsimApi::RawMidi;
    endpointOptions.rawmidiDevice = kDeviceSide;
    sim::DeviceEndpoint endpoint(device, endpointOptions);
    std::string error;
    if (!endpoint.Open(error)) return bench::SkipAll(state, error.c_str());
    // With the read-back check, as tq5-updater runs by default: its replies are as long as
    // the write blocks.
    bench::RunUpdates(
        state, device, [] { return std::make_unique<midi::AlsaBackend>(); }, kPort, kPort, true,
        bench::Percentile(roundTrips, 0.50));
}
BENCHMARK(BM_UpdateOverUsb)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
