#pragma once
// Device names as the dialog's port lists show them: at most kDeviceNameSize bytes,
// terminator included. Longer names from a driver are cut rather than refused, so a port list
// never shows an empty entry for a device with a long name. Lists that have no such bound
// (the command line's) take the whole name.

#include <cstring>
#include <string>

#include "midi/driver.hpp"

namespace tq5::midi {

// A name ends at its first NUL, as the platform's fixed records end it.
inline std::string WholeDeviceName(std::string name) {
    const std::size_t nul = name.find('\0');
    if (nul != std::string::npos) name.resize(nul);
    return name;
}

inline std::string BoundDeviceName(std::string name) {
    if (name.size() > kDeviceNameSize - 1) name.resize(kDeviceNameSize - 1);
    return WholeDeviceName(std::move(name));
}

// `destination` holds at least kDeviceNameSize bytes.
inline void CopyDeviceName(const std::string& name, char* destination) {
    if (destination == nullptr) return;
    const std::string bounded = BoundDeviceName(name);
    std::memcpy(destination, bounded.c_str(), bounded.size() + 1);
}

}  // namespace tq5::midi
