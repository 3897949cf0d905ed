#pragma once
// The procedures against the virtual TQ-5: the context's output goes to the device, the
// device's replies into the receive queue, and a dispatcher thread drains the queue every
// millisecond like the product's poll.

#include "engine_rig.hpp"
#include "sim/virtual_device.hpp"

namespace tq5::test {

// The updater's output line, ending at the device.
class LineToDevice final : public engine::SysExOutput {
public:
    explicit LineToDevice(sim::VirtualDevice& device) : device_(device) {}
    int SendLong(const std::uint8_t* bytes, std::uint32_t length) override {
        device_.Receive(bytes, length);
        return 1;
    }

private:
    sim::VirtualDevice& device_;
};

struct DeviceRig : RigCore {
    explicit DeviceRig(sim::DeviceOptions options = {},
                       const engine::FirmwareStore& store = engine::EmbeddedFirmware(),
                       engine::Timing timing = ShortTiming())
        : RigCore(store, timing), device(std::move(options)) {
        device.SetReplySink([this](const std::uint8_t* bytes, std::size_t length) {
            queue.Push(bytes, length);
        });
        context.SetOutput(&line);
    }
    ~DeviceRig() { device.SetReplySink({}); }

    sim::VirtualDevice device;
    LineToDevice line{device};
    DispatcherThread dispatcher{context, queue};  // last: stops first
};

}  // namespace tq5::test
