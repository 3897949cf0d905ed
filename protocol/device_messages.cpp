#include "protocol/device_messages.hpp"

#include <cstring>

#include "protocol/codec.hpp"

namespace tq5::protocol {
namespace {

DeviceRequest Parsed(RequestKind kind) {
    DeviceRequest r;
    r.kind = kind;
    return r;
}

// The exact layout every request shares: the expected length, 0xF7 last, seven-bit bytes
// between the two ends. A trusted layout needs only the length.
bool HasLayout(const std::uint8_t* bytes, std::size_t length, std::size_t expected, Layout layout) {
    if (layout == Layout::Trusted) return length >= expected;
    if (length != expected || bytes[length - 1] != kSysExEnd) return false;
    for (std::size_t i = 1; i + 1 < length; ++i) {
        if (bytes[i] >= 0x80) return false;
    }
    return true;
}

DeviceRequest ParseUniversal(const std::uint8_t* bytes, std::size_t length, Layout layout) {
    if (length < 5 || bytes[3] != kGeneralInformation) return Parsed(RequestKind::Ignored);
    switch (bytes[4]) {
        case kIdentityRequestSubId:
            return Parsed(HasLayout(bytes, length, kIdentityRequestLength, layout)
                              ? RequestKind::IdentityRequest
                              : RequestKind::Malformed);
        case kIdentityReplySubId: {
            if (!HasLayout(bytes, length, kIdentityReplyLength, layout)) {
                return Parsed(RequestKind::Malformed);
            }
            DeviceRequest r = Parsed(RequestKind::IdentityReply);
            std::memcpy(r.deviceId.data(), bytes + 6, r.deviceId.size());
            return r;
        }
        default:
            return Parsed(RequestKind::Ignored);
    }
}

// Fills in a write block once its count is known to be readable.
DeviceRequest ParseWriteBlock(const std::uint8_t* bytes, std::size_t length, DeviceRequest r,
                              Layout layout) {
    // Head, address and count: 12 bytes before the data; seven-bit bytes keep n <= 16383.
    if (length < kWriteBlockOverhead || bytes[10] >= 0x80 || bytes[11] >= 0x80) {
        r.kind = RequestKind::Malformed;
        return r;
    }
    const std::int32_t n = DecodeTwoByteCount(bytes + 10);
    const std::int32_t p = PackedLength(n);
    if (!HasLayout(bytes, length, kWriteBlockOverhead + static_cast<std::size_t>(p), layout)) {
        r.kind = RequestKind::Malformed;
        return r;
    }
    r.kind = RequestKind::WriteBlock;
    r.address = DecodeSeptetNumber(bytes + 5);
    r.dataCount = n;
    r.packed = bytes + 12;
    r.packedCount = p;
    r.crc = DecodeSeptetNumber(bytes + 12 + p);
    return r;
}

DeviceRequest ParseDeviceSpecific(const std::uint8_t* bytes, std::size_t length, Layout layout) {
    if (length < 4) return Parsed(RequestKind::Malformed);
    DeviceRequest r = Parsed(RequestKind::Malformed);
    r.hasDeviceByte = true;
    r.deviceByte = bytes[3];
    if (length < 5) return r;
    r.command = bytes[4];
    const auto exact = [&](std::size_t expected, RequestKind kind) {
        r.kind = HasLayout(bytes, length, expected, layout) ? kind : RequestKind::Malformed;
        return r.kind != RequestKind::Malformed;
    };
    switch (r.command) {
        case kCmdStatus:
            if (exact(kStatusMessageLength, RequestKind::StatusMessage)) r.status = bytes[5];
            return r;
        case kCmdEnterUpdate:
            exact(kShortRequestLength, RequestKind::EnterUpdate);
            return r;
        case kCmdFinish:
            exact(kShortRequestLength, RequestKind::Finish);
            return r;
        case kCmdErase:
            if (exact(kEraseRequestLength, RequestKind::Erase)) {
                r.address = DecodeSeptetNumber(bytes + 5);
                r.size = DecodeSeptetNumber(bytes + 10);
            }
            return r;
        case kCmdWriteBlock:
            return ParseWriteBlock(bytes, length, r, layout);
        case kCmdMemory:
            if (length >= 6 && bytes[5] != kReadRequestSubCode) {
                r.kind = RequestKind::UnknownCommand;
            } else if (exact(kReadMemoryRequestLength, RequestKind::ReadMemory)) {
                r.address = DecodeSeptetNumber(bytes + 6);
                r.size = DecodeSeptetNumber(bytes + 11);
            }
            return r;
        default:
            r.kind = RequestKind::UnknownCommand;
            return r;
    }
}

}  // namespace

DeviceRequest ParseRequest(const std::uint8_t* bytes, std::size_t length, Layout layout) {
    if (bytes == nullptr || length < 2 || bytes[0] != kSysExStart) {
        return Parsed(RequestKind::Ignored);
    }
    switch (bytes[1]) {
        case kManufacturerId:
            return ParseDeviceSpecific(bytes, length, layout);
        case kUniversalNonRealTime:
            return ParseUniversal(bytes, length, layout);
        default:
            return Parsed(RequestKind::Ignored);
    }
}

std::size_t BuildDeviceIdentityReply(std::uint8_t* out, const DeviceId& id,
                                     const std::array<std::uint8_t, 4>& revision) {
    const std::uint8_t head[] = {kSysExStart,         kUniversalNonRealTime, 0x00,
                                 kGeneralInformation, kIdentityReplySubId,   kManufacturerId};
    std::memcpy(out, head, sizeof head);
    std::memcpy(out + 6, id.data(), id.size());
    for (std::size_t i = 0; i < revision.size(); ++i) {
        out[10 + i] = static_cast<std::uint8_t>(revision[i] & 0x7Fu);
    }
    out[14] = kSysExEnd;
    return kDeviceIdentityReplyLength;
}

std::size_t ReadMemoryReplyLength(std::uint32_t n) {
    return kReadReplyOverhead +
           static_cast<std::size_t>(PackedLength(static_cast<std::int32_t>(n)));
}

std::size_t ReadMemoryReplyCrcOffset(std::uint32_t n) {
    return 11 + static_cast<std::size_t>(PackedLength(static_cast<std::int32_t>(n)));
}

std::size_t BuildReadMemoryReply(std::uint8_t* out, std::uint8_t deviceByte,
                                 const std::uint8_t* data, std::uint32_t n) {
    if (n > kMaxReadReplyBytes) return 0;
    const auto count = static_cast<std::int32_t>(n);
    std::uint8_t* p = WriteDeviceHead(out, deviceByte, kCmdMemory);
    p[0] = kReadReplyMarker;
    p[1] = kReadRequestSubCode;
    p[2] = 0x00;
    p[3] = 0x00;
    EncodeTwoByteCount(count, p + 4);
    const std::int32_t packed = PackPayload(p + 6, data, count);
    EncodeSeptetNumber(ComputeCrc32(data, n), p + 6 + packed);
    p[11 + packed] = kSysExEnd;
    return kReadReplyOverhead + static_cast<std::size_t>(packed);
}

std::size_t BuildDeviceCommand(std::uint8_t* out, std::uint8_t deviceByte, std::uint8_t command) {
    WriteDeviceHead(out, deviceByte, command)[0] = kSysExEnd;
    return kDeviceCommandLength;
}

std::size_t BuildCompletionNotice(std::uint8_t* out, std::uint8_t deviceByte) {
    return BuildDeviceCommand(out, deviceByte, kCmdCompletion);
}

std::size_t BuildUniversalMessage(std::uint8_t* out, std::uint8_t subId) {
    const std::uint8_t message[] = {kSysExStart,
                                    kUniversalNonRealTime,
                                    0x00,
                                    kGeneralInformation,
                                    static_cast<std::uint8_t>(subId & 0x7Fu),
                                    kSysExEnd};
    std::memcpy(out, message, sizeof message);
    return sizeof message;
}

}  // namespace tq5::protocol
