#pragma once
// The device names a MIDI port lists, as the port lists show them.

#include <cstdint>
#include <string>
#include <vector>

namespace tq5::app {

// Asks for the device count again before each name (devices may come and go meanwhile).
template <typename Port, typename NameOf>
std::vector<std::string> ListNames(Port& port, NameOf nameOf) {
    std::vector<std::string> names;
    for (std::uint32_t n = 0; n < port.GetDeviceCount(); ++n) names.push_back(nameOf(n));
    return names;
}

// Bounded as the dialog's port lists show them.
template <typename Port>
std::vector<std::string> ListDeviceNames(Port& port) {
    return ListNames(port, [&](std::uint32_t n) { return port.GetDeviceName(n); });
}

// Whole, as the command line lists them and finds them by name.
template <typename Port>
std::vector<std::string> ListFullDeviceNames(Port& port) {
    return ListNames(port, [&](std::uint32_t n) { return port.GetFullDeviceName(n); });
}

}  // namespace tq5::app
