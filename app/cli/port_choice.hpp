#pragma once
// Which MIDI port a command uses: the one given by index or name, or the port this instance
// prefers (as the dialog preselects it).

#include <cstdint>
#include <string>
#include <vector>

namespace tq5::app::cli {

struct PortChoice {
    std::int32_t index = -1;
    std::string error;  // set when no port could be chosen: bad usage
    // Nothing named and no preferred name in the list: the port is found by asking the
    // ports for the TQ-5 (device_search.hpp).
    bool search = false;
};

// `kind` names the list in messages ("input", "output"); `option` the option that picks one.
// `wanted`: a decimal index, else an exact name, else a part of exactly one name (names as
// they are or as `tq5-updater ports` prints them, escapes and all). Empty:
// the last entry carrying one of the instance's preferred names, or a search when none does.
PortChoice ChoosePort(const std::vector<std::string>& names, const std::string& wanted,
                      int instanceNumber, const std::string& kind, const std::string& option);

}  // namespace tq5::app::cli
