#pragma once
// The device names a MIDI port lists, as the port lists show them.

#include <cstdint>
#include <string>
#include <vector>

namespace tq5::app {

// Asks for the device count again before each name (devices may come and go meanwhile).
template <typename Port>
std::vector<std::string> ListDeviceNames(Port& port) {
    std::vector<std::string> names;
    for (std::uint32_t n = 0; n < port.GetDeviceCount(); ++n) {
        names.push_back(port.GetDeviceName(n));
    }
    return names;
}

}  // namespace tq5::app
