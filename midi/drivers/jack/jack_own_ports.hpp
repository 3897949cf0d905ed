#pragma once
// Ports of a program's own on JACK (own_ports.hpp), through RtMidi's virtual ports: two
// clients named alike, one port each.

#include "midi/drivers/own_ports.hpp"

namespace tq5::midi {

std::unique_ptr<OwnPorts> OpenJackOwnPorts(const std::string& clientName,
                                           const std::string& portName, SysExBlockHandler received,
                                           std::string& error);

}  // namespace tq5::midi
