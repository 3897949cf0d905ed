#pragma once
// The procedures against the virtual TQ-5: the context's output goes to the device, the
// device's replies, read as an input driver reads its stream, into the receive queue, and a
// dispatcher thread drains the queue every millisecond like the product's poll.

#include "engine_rig.hpp"
#include "midi/sysex_assembler.hpp"
#include "sim/virtual_device.hpp"

namespace tq5::test {

// The updater's output line, ending at the device. Sends number `failFrom` on (counted from
// 1; 0 = none), `failCount` of them, fail without reaching it.
class LineToDevice final : public engine::SysExOutput {
public:
    explicit LineToDevice(sim::VirtualDevice& device) : device_(device) {}
    bool SendLong(const std::uint8_t* bytes, std::uint32_t length) override {
        const std::uint32_t n = ++sends_;
        const std::uint32_t from = failFrom.load();
        if (from != 0 && n >= from && n - from < failCount.load()) return false;
        device_.Receive(bytes, length);
        return true;
    }

    std::atomic<std::uint32_t> failFrom{0};
    std::atomic<std::uint32_t> failCount{0};

private:
    sim::VirtualDevice& device_;
    std::atomic<std::uint32_t> sends_{0};
};

// Patient waits unless told otherwise: the virtual TQ-5 answers everything it is not told to
// lose, so only a test that loses an answer needs a wait short enough to run out.
struct DeviceRig : RigCore {
    explicit DeviceRig(sim::DeviceOptions options = {},
                       const engine::FirmwareStore& store = firmware::EmbeddedFirmware(),
                       engine::Timing timing = PatientTiming())
        : RigCore(store, timing), device(std::move(options)) {
        device.SetReplySink(
            [this](const std::uint8_t* bytes, std::size_t length) { input.Feed(bytes, length); });
        context.SetOutput(&line);
    }
    ~DeviceRig() { device.SetReplySink({}); }

    midi::SysExAssembler input{
        [this](const std::uint8_t* bytes, std::size_t length) { queue.Push(bytes, length); }};
    sim::VirtualDevice device;
    LineToDevice line{device};
    DispatcherThread dispatcher{context, queue};  // last: stops first
};

}  // namespace tq5::test
