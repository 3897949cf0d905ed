#pragma once
// MIDI input from a virtual port pair's far end, delivered on a thread of its own.

#include <memory>

#include "midi/driver.hpp"
#include "midi/drivers/virtual/virtual_pair_list.hpp"

namespace tq5::midi {

std::unique_ptr<InputDriver> CreateVirtualInput(std::shared_ptr<detail::VirtualPairList> pairs);

}  // namespace tq5::midi
