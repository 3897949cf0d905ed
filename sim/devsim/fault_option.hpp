#pragma once
// tq5-devsim's --fault option: "REQUEST:ORDINAL:ACTION[:VALUE]", e.g.
//   write-block:3:drop-reply       the 3rd write block is carried out, its reply lost
//   erase:1:answer-status:5        the 1st erase is answered with status 5
//   read-memory:0:delay-reply:200  every read reply leaves 200 ms late
//   write-block:5:duplicate-late:40 a copy of the 5th block's reply follows it 40 ms later
//   read-memory:2-4:delay-reply:8000 the 2nd to 4th reads are answered 8 s late
//   read-memory:0:refuse-read-above:256  every read of more than 256 bytes is refused
// ORDINAL 0 means every request of that type, FIRST-LAST a run of them. VALUE is the delay
// in ms (delay-reply, duplicate-late), the status (answer-status), the length to cut the
// reply to (truncate-reply) or the length of its first piece (split-reply), the largest read
// served (refuse-read-above, ignore-read-above) or the data bytes of one reply
// (read-in-pieces).

#include <optional>
#include <string>

#include "sim/fault_plan.hpp"

namespace tq5::sim {

// How much later a late copy follows its reply when no VALUE says.
inline constexpr std::uint32_t kDefaultLateCopyMs = 30;
// The largest read a device with a read limit serves, and the data bytes of one reply of a
// read answered in pieces, when no VALUE says.
inline constexpr std::uint32_t kDefaultLargestRead = 256;
inline constexpr std::uint32_t kDefaultReadPiece = 1024;

std::optional<Fault> ParseFaultOption(const std::string& text);

// The option's name of a request type ("write-block").
std::string RequestOptionName(RequestType type);

// What --help shows for the option.
std::string FaultOptionHelp();

}  // namespace tq5::sim
