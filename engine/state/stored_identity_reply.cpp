#include "engine/state/stored_identity_reply.hpp"

namespace tq5::engine {

void StoredIdentityReply::SetDeviceId(const protocol::DeviceId& id) {
    std::lock_guard guard(lock_);
    id_ = id;
}

std::array<std::uint8_t, protocol::kIdentityReplyLength> StoredIdentityReply::Bytes() const {
    std::array<std::uint8_t, protocol::kIdentityReplyLength> bytes{};
    std::lock_guard guard(lock_);
    protocol::BuildIdentityReply(bytes.data(), id_);
    return bytes;
}

}  // namespace tq5::engine
