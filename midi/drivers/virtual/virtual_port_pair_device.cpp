// Hosting a virtual TQ-5 on a port pair; built only together with the simulator.

#include "midi/drivers/virtual/virtual_port_pair.hpp"

namespace tq5::midi {

sim::VirtualDevice& VirtualPortPair::HostDevice(sim::DeviceOptions options) {
    auto device = std::make_shared<sim::VirtualDevice>(options);
    device->SetReplySink(
        [this](const std::uint8_t* bytes, std::size_t length) { SendToInput(bytes, length); });
    std::lock_guard guard(farEndLock_);
    device_ = device;  // the one replaced stops here
    farEnd_ = [raw = device.get()](const std::uint8_t* bytes, std::size_t length) {
        return raw->ReceiveOverLine(bytes, length);
    };
    return *device;
}

}  // namespace tq5::midi
