#include "protocol/messages.hpp"

#include <cstring>

#include "protocol/codec.hpp"

namespace tq5::protocol {
namespace {

std::uint8_t* WriteHead(std::uint8_t* out, std::uint8_t deviceByte, std::uint8_t command) {
    out[0] = kSysExStart;
    out[1] = kManufacturerId;
    out[2] = 0x00;
    out[3] = deviceByte;
    out[4] = command;
    return out + 5;
}

ClassifiedMessage Classified(MessageClass kind) {
    ClassifiedMessage m;
    m.kind = kind;
    return m;
}

ClassifiedMessage ClassifyReadReply(const std::uint8_t* bytes, std::size_t length) {
    if (length < 6) return Classified(MessageClass::Ignored);
    if (bytes[5] != kReadReplyMarker) return Classified(MessageClass::ReadReplyOther);
    // From here on the message claims to be a read reply: anything malformed is a failed read.
    if (length < 11 || bytes[6] != kReadRequestSubCode) {
        return Classified(MessageClass::ReadReplyFailed);
    }
    const std::int32_t n = DecodeTwoByteCount(bytes + 9);
    const std::int32_t p = PackedLength(n);
    // The packed data and the five CRC bytes must lie inside the message.
    if (static_cast<std::size_t>(11 + p + 5) > length) {
        return Classified(MessageClass::ReadReplyFailed);
    }
    ClassifiedMessage m = Classified(MessageClass::ReadMemoryReply);
    m.dataCount = n;
    m.packed = bytes + 11;
    m.packedCount = p;
    m.crc = DecodeSeptetNumber(bytes + 11 + p);
    return m;
}

ClassifiedMessage ClassifyDeviceSpecific(const std::uint8_t* bytes, std::size_t length) {
    if (length < 5) return Classified(MessageClass::Ignored);
    switch (bytes[4]) {
        case kCmdStatus: {
            if (length < 6) return Classified(MessageClass::Ignored);
            ClassifiedMessage m = Classified(MessageClass::StatusReply);
            m.status = bytes[5];
            return m;
        }
        case kCmdEnterUpdate:
        case kCmdFinish:
        case kCmdDeviceAcknowledged:
            return Classified(MessageClass::DeviceCommand);
        case kCmdCompletion:
            return Classified(MessageClass::CompletionNotice);
        case kCmdIgnored:
            return Classified(MessageClass::Ignored);
        case kCmdMemory:
            return ClassifyReadReply(bytes, length);
        default:
            return Classified(MessageClass::UnknownCommand);
    }
}

ClassifiedMessage ClassifyUniversal(const std::uint8_t* bytes, std::size_t length) {
    if (length < 5 || bytes[3] != kGeneralInformation) return Classified(MessageClass::Ignored);
    switch (bytes[4]) {
        case kIdentityRequestSubId:
            return Classified(MessageClass::IdentityRequest);
        case kIdentityReplySubId: {
            if (length < 10) return Classified(MessageClass::Ignored);
            ClassifiedMessage m = Classified(MessageClass::IdentityReply);
            std::memcpy(m.deviceId.data(), bytes + 6, m.deviceId.size());
            return m;
        }
        default:
            return Classified(MessageClass::UnknownUniversal);
    }
}

}  // namespace

std::uint8_t* WriteDeviceHead(std::uint8_t* out, std::uint8_t deviceByte, std::uint8_t command) {
    return WriteHead(out, deviceByte, command);
}

std::size_t WriteBlockRequestLength(std::int32_t n) {
    return kWriteBlockOverhead + static_cast<std::size_t>(PackedLength(n));
}

std::size_t BuildIdentityRequest(std::uint8_t* out) {
    static constexpr std::uint8_t kRequest[kIdentityRequestLength] = {
        kSysExStart,         kUniversalNonRealTime, 0x00,
        kGeneralInformation, kIdentityRequestSubId, kSysExEnd};
    std::memcpy(out, kRequest, sizeof kRequest);
    return sizeof kRequest;
}

std::size_t BuildStatusMessage(std::uint8_t* out, std::uint8_t deviceByte, std::uint8_t status) {
    std::uint8_t* p = WriteHead(out, deviceByte, kCmdStatus);
    p[0] = status;
    p[1] = kSysExEnd;
    return kStatusMessageLength;
}

std::size_t BuildEnterUpdateRequest(std::uint8_t* out, std::uint8_t deviceByte) {
    WriteHead(out, deviceByte, kCmdEnterUpdate)[0] = kSysExEnd;
    return kShortRequestLength;
}

std::size_t BuildFinishRequest(std::uint8_t* out, std::uint8_t deviceByte) {
    WriteHead(out, deviceByte, kCmdFinish)[0] = kSysExEnd;
    return kShortRequestLength;
}

std::size_t BuildEraseRequest(std::uint8_t* out, std::uint8_t deviceByte, std::int32_t address,
                              std::int32_t size) {
    std::uint8_t* p = WriteHead(out, deviceByte, kCmdErase);
    EncodeSeptetNumber(static_cast<std::uint32_t>(address), p);
    EncodeSeptetNumber(static_cast<std::uint32_t>(size), p + 5);
    p[10] = kSysExEnd;
    return kEraseRequestLength;
}

std::size_t BuildWriteBlockRequest(std::uint8_t* out, std::uint8_t deviceByte,
                                   const std::uint8_t* data, std::int32_t address, std::int32_t n) {
    if (n < 0 || n > kMaxBlockBytes) return 0;
    std::uint8_t* p = WriteHead(out, deviceByte, kCmdWriteBlock);
    EncodeSeptetNumber(static_cast<std::uint32_t>(address), p);
    EncodeTwoByteCount(n, p + 5);
    const std::int32_t packed = PackPayload(p + 7, data, n);
    EncodeSeptetNumber(ComputeCrc32(data, static_cast<std::uint32_t>(n)), p + 7 + packed);
    p[12 + packed] = kSysExEnd;
    return kWriteBlockOverhead + static_cast<std::size_t>(packed);
}

std::size_t BuildReadMemoryRequest(std::uint8_t* out, std::uint8_t deviceByte,
                                   std::uint32_t address, std::uint32_t count) {
    std::uint8_t* p = WriteHead(out, deviceByte, kCmdMemory);
    p[0] = kReadRequestSubCode;
    EncodeSeptetNumber(address, p + 1);
    EncodeSeptetNumber(count, p + 6);
    p[11] = kSysExEnd;
    return kReadMemoryRequestLength;
}

std::size_t BuildIdentityReply(std::uint8_t* out, const DeviceId& id) {
    // clang-format off
    const std::array<std::uint8_t, kIdentityReplyLength> reply{
        kSysExStart, kUniversalNonRealTime, 0x00, kGeneralInformation, kIdentityReplySubId,
        kManufacturerId, id[0], id[1], id[2], id[3], '1', '0', '0', '0', kSysExEnd};
    // clang-format on
    std::memcpy(out, reply.data(), reply.size());
    return reply.size();
}

ClassifiedMessage ClassifyMessage(const std::uint8_t* bytes, std::size_t length) {
    if (bytes == nullptr || length < 2 || bytes[0] != kSysExStart) {
        return Classified(MessageClass::Ignored);
    }
    switch (bytes[1]) {
        case kManufacturerId:
            return ClassifyDeviceSpecific(bytes, length);
        case kUniversalNonRealTime:
            return ClassifyUniversal(bytes, length);
        default:
            return Classified(MessageClass::Ignored);
    }
}

}  // namespace tq5::protocol
