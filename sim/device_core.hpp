#pragma once
// What the TQ-5 does with one request from the updater and what it answers: modes, identity,
// erase, write and read on its flash. No threads and no timing; VirtualDevice runs it on its
// own thread, one request at a time.

#include <array>
#include <cstdint>
#include <vector>

#include "protocol/device_messages.hpp"
#include "sim/flash_memory.hpp"
#include "sim/virtual_device.hpp"

namespace tq5::sim {

using Message = std::vector<std::uint8_t>;

struct Response {
    std::vector<Message> messages;    // the replies, in order
    std::uint32_t erasedSectors = 0;  // flash work done, for the device's timing
    std::uint32_t writtenBlocks = 0;
};

class DeviceCore {
public:
    DeviceCore(const protocol::DeviceId& id, DeviceMode mode);

    // Carries out one parsed request. Device-specific requests for another device byte, and
    // messages that are no requests (the updater's own answers, ignored ones), get nothing.
    Response Handle(const protocol::DeviceRequest& request);

    // True for a device-specific message that carries another device's byte.
    bool AddressedElsewhere(const protocol::DeviceRequest& request) const;

    // The messages the device sends on its own.
    Message StatusMessage(std::uint8_t status) const;
    Message IdentityReply(const protocol::DeviceId& id) const;

    FlashMemory& Flash() { return flash_; }
    const FlashMemory& Flash() const { return flash_; }
    DeviceMode Mode() const { return mode_; }
    void SetMode(DeviceMode mode) { mode_ = mode; }
    const protocol::DeviceId& Id() const { return id_; }
    void SetId(const protocol::DeviceId& id) { id_ = id; }
    void SetRevision(const std::array<std::uint8_t, 4>& revision) { revision_ = revision; }
    void SetFinishWithCompletionNotice(bool on) { finishWithCompletionNotice_ = on; }
    void SetEarlyCompletionNotice(bool on) { earlyCompletionNotice_ = on; }
    void SetStrictWrites(bool on) { strictWrites_ = on; }

    // A read request, answered in replies of at most `pieceBytes` data bytes each (0: one
    // reply), one after another from the lowest address.
    Response ReadMemory(const protocol::DeviceRequest& request, std::uint32_t pieceBytes = 0) const;

private:
    Response Status(std::uint8_t status) const;
    Response EnterUpdate();
    Response Finish();
    Response Erase(const protocol::DeviceRequest& request);
    Response WriteBlock(const protocol::DeviceRequest& request);
    Message CompletionNotice() const;

    FlashMemory flash_;
    protocol::DeviceId id_;
    DeviceMode mode_;
    std::array<std::uint8_t, 4> revision_{'1', '0', '0', '0'};
    bool finishWithCompletionNotice_ = false;
    bool earlyCompletionNotice_ = false;
    bool strictWrites_ = false;
    std::vector<std::uint8_t> blockBuffer_;
};

}  // namespace tq5::sim
