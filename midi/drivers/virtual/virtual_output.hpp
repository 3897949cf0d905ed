#pragma once
// MIDI output to a virtual port pair's far end, with the pair's faults and line time.

#include <memory>

#include "midi/driver.hpp"
#include "midi/drivers/virtual/virtual_pair_list.hpp"

namespace tq5::midi {

std::unique_ptr<OutputDriver> CreateVirtualOutput(std::shared_ptr<detail::VirtualPairList> pairs);

}  // namespace tq5::midi
