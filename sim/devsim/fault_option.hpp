#pragma once
// tq5-devsim's --fault option: "REQUEST:ORDINAL:ACTION[:VALUE]", e.g.
//   write-block:3:drop-reply       the 3rd write block is carried out, its reply lost
//   erase:1:answer-status:5        the 1st erase is answered with status 5
//   read-memory:0:delay-reply:200  every read reply leaves 200 ms late
//   write-block:5:duplicate-late:40 a copy of the 5th block's reply follows it 40 ms later
// ORDINAL 0 means every request of that type. VALUE is the delay in ms (delay-reply,
// duplicate-late), the status (answer-status), the length to cut the reply to
// (truncate-reply) or the length of its first piece (split-reply).

#include <optional>
#include <string>

#include "sim/fault_plan.hpp"

namespace tq5::sim {

// How much later a late copy follows its reply when no VALUE says.
inline constexpr std::uint32_t kDefaultLateCopyMs = 30;

std::optional<Fault> ParseFaultOption(const std::string& text);

// The option's name of a request type ("write-block").
std::string RequestOptionName(RequestType type);

// What --help shows for the option.
std::string FaultOptionHelp();

}  // namespace tq5::sim
