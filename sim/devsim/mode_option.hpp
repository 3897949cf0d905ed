#pragma once
// The names the device's modes go by on command lines (tq5-devsim --mode, the window test
// bench): "normal", "update-ready" and "flash-writing".

#include <map>
#include <string>

#include "sim/virtual_device.hpp"

namespace tq5::sim {

inline const std::map<std::string, DeviceMode>& DeviceModeNames() {
    static const std::map<std::string, DeviceMode> names{
        {"normal", DeviceMode::Normal},
        {"update-ready", DeviceMode::UpdateReady},
        {"flash-writing", DeviceMode::FlashWriting}};
    return names;
}

}  // namespace tq5::sim
