#include "sim/port_pair_device.hpp"

#include <memory>

namespace tq5::sim {

VirtualDevice& HostDevice(midi::VirtualPortPair& pair, DeviceOptions options) {
    auto device = std::make_shared<VirtualDevice>(options);
    device->SetReplySink([&pair](const std::uint8_t* bytes, std::size_t length) {
        pair.SendToInput(bytes, length);
    });
    VirtualDevice* hosted = device.get();
    pair.SetFarEnd([hosted](const std::uint8_t* bytes,
                            std::size_t length) { return hosted->ReceiveOverLine(bytes, length); },
                   std::move(device));
    return *hosted;
}

}  // namespace tq5::sim
