#pragma once
// Ports of a program's own on the ALSA sequencer (own_ports.hpp): two clients named alike,
// one port each, as on JACK; the receiving client's input pool takes the largest messages.

#include "midi/drivers/own_ports.hpp"

namespace tq5::midi {

std::unique_ptr<OwnPorts> OpenAlsaOwnPorts(const std::string& clientName,
                                           const std::string& portName, SysExBlockHandler received,
                                           std::string& error);

}  // namespace tq5::midi
