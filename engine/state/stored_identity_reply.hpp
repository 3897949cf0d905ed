#pragma once
// The updater's own identity reply, as the dispatcher answers the device's identity request
// with it: zero id until the update worker accepts the device, then the accepted id. Read on
// the dispatcher's thread, rewritten on the worker's; guarded by its own lock.

#include <array>
#include <cstdint>
#include <mutex>

#include "protocol/messages.hpp"

namespace tq5::engine {

class StoredIdentityReply {
public:
    void SetDeviceId(const protocol::DeviceId& id);
    std::array<std::uint8_t, protocol::kIdentityReplyLength> Bytes() const;

private:
    mutable std::mutex lock_;
    protocol::DeviceId id_{};
};

}  // namespace tq5::engine
