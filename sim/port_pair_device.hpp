#pragma once
// A virtual TQ-5 at the far end of an in-process port pair: what leaves the pair's output
// port reaches the device at its line's pace, and its replies arrive at the pair's input.

#include "midi/drivers/virtual/virtual_port_pair.hpp"
#include "sim/virtual_device.hpp"

namespace tq5::sim {

// Puts a new device at the far end of `pair`, replacing whatever was there. It lives until it
// is replaced or the pair goes; the reference holds as long.
VirtualDevice& HostDevice(midi::VirtualPortPair& pair, DeviceOptions options = {});

}  // namespace tq5::sim
