#pragma once
// Two ports of a program's own on a MIDI system, for other programs to connect to: what
// arrives at "<name> in" is handed over, and Send leaves through "<name> out". What a virtual
// device serves on (tq5-devsim); a backend that can make them says so in midi_backends.hpp.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "midi/driver.hpp"

namespace tq5::midi {

class OwnPorts {
public:
    // Closes both ports; nothing is handed over once it returns.
    virtual ~OwnPorts() = default;
    // Sends one whole message; false when the system refuses it (the message is then lost,
    // as one on a real line would be).
    [[nodiscard]] virtual bool Send(const std::uint8_t* bytes, std::size_t length) = 0;
};

// Opens "<portName> in" and "<portName> out" under `clientName`; what arrives goes to
// `received` as SysExAssembler hands it over, on the system's thread. Null, with the reason
// in `error`, when the system or its ports can't be had.
using OpenOwnPortsFunction = std::unique_ptr<OwnPorts> (*)(const std::string& clientName,
                                                           const std::string& portName,
                                                           SysExBlockHandler received,
                                                           std::string& error);

}  // namespace tq5::midi
