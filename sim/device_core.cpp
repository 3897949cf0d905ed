#include "sim/device_core.hpp"

#include <algorithm>

#include "protocol/codec.hpp"
#include "sim/device_status.hpp"

namespace tq5::sim {
namespace {

using protocol::RequestKind;

std::uint8_t StatusOf(FlashMemory::Result result) {
    switch (result) {
        case FlashMemory::Result::Ok:
            return kStatusOk;
        case FlashMemory::Result::BadRange:
            return kStatusBadRange;
        case FlashMemory::Result::NotErased:
            return kStatusNotErased;
    }
    return kStatusBadRange;
}

}  // namespace

DeviceCore::DeviceCore(const protocol::DeviceId& id, DeviceMode mode) : id_(id), mode_(mode) {}

bool DeviceCore::AddressedElsewhere(const protocol::DeviceRequest& request) const {
    return request.hasDeviceByte && request.deviceByte != id_[0];
}

Message DeviceCore::StatusMessage(std::uint8_t status) const {
    Message m(protocol::kStatusMessageLength);
    protocol::BuildStatusMessage(m.data(), id_[0], status);
    return m;
}

Message DeviceCore::IdentityReply(const protocol::DeviceId& id) const {
    Message m(protocol::kDeviceIdentityReplyLength);
    protocol::BuildDeviceIdentityReply(m.data(), id, revision_);
    return m;
}

Response DeviceCore::Status(std::uint8_t status) const {
    Response r;
    r.messages.push_back(StatusMessage(status));
    return r;
}

Response DeviceCore::Handle(const protocol::DeviceRequest& request) {
    switch (request.kind) {
        case RequestKind::IdentityRequest: {
            Response r;
            r.messages.push_back(IdentityReply(id_));
            return r;
        }
        case RequestKind::Ignored:
        case RequestKind::StatusMessage:
        case RequestKind::IdentityReply:
            return {};
        default:
            break;
    }
    // Device-specific from here on: only those addressed to this device are answered.
    if (!request.hasDeviceByte || AddressedElsewhere(request)) return {};
    switch (request.kind) {
        case RequestKind::EnterUpdate:
            return EnterUpdate();
        case RequestKind::Finish:
            return Finish();
        case RequestKind::Erase:
            return Erase(request);
        case RequestKind::WriteBlock:
            return WriteBlock(request);
        case RequestKind::ReadMemory:
            return ReadMemory(request);
        case RequestKind::Malformed:
            return Status(kStatusMalformed);
        default:
            return Status(kStatusUnknownCommand);
    }
}

Response DeviceCore::EnterUpdate() {
    // Entering again while already writing is harmless, so that a resent request succeeds.
    if (mode_ == DeviceMode::Normal) return Status(kStatusNotInUpdateMode);
    mode_ = DeviceMode::FlashWriting;
    return Status(kStatusOk);
}

Message DeviceCore::CompletionNotice() const {
    Message m(protocol::kDeviceCommandLength);
    protocol::BuildCompletionNotice(m.data(), id_[0]);
    return m;
}

Response DeviceCore::Finish() {
    mode_ = DeviceMode::Normal;
    if (earlyCompletionNotice_) return {};  // said so already, after the last block
    if (!finishWithCompletionNotice_) return Status(kStatusOk);
    Response r;
    r.messages.push_back(CompletionNotice());
    return r;
}

Response DeviceCore::Erase(const protocol::DeviceRequest& request) {
    if (mode_ != DeviceMode::FlashWriting) return Status(kStatusNotWriting);
    const FlashMemory::Result result = flash_.Erase(request.address, request.size);
    Response r = Status(StatusOf(result));
    if (result == FlashMemory::Result::Ok)
        r.erasedSectors = request.size / FlashMemory::kSectorSize;
    return r;
}

Response DeviceCore::WriteBlock(const protocol::DeviceRequest& request) {
    if (mode_ != DeviceMode::FlashWriting) return Status(kStatusNotWriting);
    const auto n = static_cast<std::uint32_t>(request.dataCount);
    blockBuffer_.resize(n);
    protocol::UnpackPayload(blockBuffer_.data(), request.packed, request.packedCount);
    if (protocol::ComputeCrc32(blockBuffer_.data(), n) != request.crc) {
        return Status(kStatusBadCrc);
    }
    // A strict device writes only over erased flash, even the same bytes again.
    if (strictWrites_ && !flash_.IsErased(request.address, n)) return Status(kStatusNotErased);
    const FlashMemory::Result result = flash_.Program(request.address, blockBuffer_.data(), n);
    Response r = Status(StatusOf(result));
    if (result == FlashMemory::Result::Ok) r.writtenBlocks = 1;
    // The system block is the plan's last write.
    constexpr std::uint32_t kSystemBlock = 0xD2000;
    if (earlyCompletionNotice_ && result == FlashMemory::Result::Ok &&
        request.address == kSystemBlock) {
        r.messages.push_back(CompletionNotice());
    }
    return r;
}

Response DeviceCore::ReadMemory(const protocol::DeviceRequest& request,
                                std::uint32_t pieceBytes) const {
    // Reads work in every mode: the version check reads without entering the update mode.
    if (request.size > protocol::kMaxReadReplyBytes ||
        !FlashMemory::InRange(request.address, request.size)) {
        return Status(kStatusBadRange);
    }
    const std::uint32_t step = pieceBytes == 0 ? request.size : pieceBytes;
    Response r;
    std::uint32_t done = 0;
    do {  // a read of no bytes still gets its (empty) reply
        const std::uint32_t n = std::min(step, request.size - done);
        Message m(protocol::ReadMemoryReplyLength(n));
        protocol::BuildReadMemoryReply(m.data(), id_[0], flash_.Data() + request.address + done, n);
        r.messages.push_back(std::move(m));
        done += n;
    } while (done < request.size);
    return r;
}

}  // namespace tq5::sim
