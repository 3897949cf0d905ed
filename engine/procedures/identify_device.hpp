#pragma once
// The identification handshake that starts both procedures: the standard identity request,
// then the reported device id against the accepted ids.

#include <array>

#include "engine/procedures/procedure_env.hpp"
#include "engine/result.hpp"

namespace tq5::engine {

// Compared in this order; the first two are equal, so two distinct ids are accepted.
inline constexpr std::array<DeviceId, 3> kAcceptedDeviceIds = {{
    {0x6E, 0x00, 0x05, 0x00},
    {0x6E, 0x00, 0x05, 0x00},
    {0x6E, 0x00, 0x07, 0x00},
}};

// Ok when the device is accepted; otherwise Failed with its message, or Closing. Shows
// nothing and touches no control. The reported id becomes the current device id before the
// comparison, so a rejected id stays current too.
Result IdentifyDevice(const ProcedureEnv& env);

}  // namespace tq5::engine
