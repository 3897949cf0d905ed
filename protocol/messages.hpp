#pragma once
// The System Exclusive messages exchanged with the TQ-5: builders for what the updater sends,
// the updater's stored identity reply, and the classifier for what it receives.

#include <array>
#include <cstddef>
#include <cstdint>

namespace tq5::protocol {

// Device family code and family member code, as the device sends them in its identity reply.
using DeviceId = std::array<std::uint8_t, 4>;

inline constexpr std::uint8_t kSysExStart = 0xF0;
inline constexpr std::uint8_t kSysExEnd = 0xF7;
inline constexpr std::uint8_t kManufacturerId = 0x52;
inline constexpr std::uint8_t kUniversalNonRealTime = 0x7E;
inline constexpr std::uint8_t kGeneralInformation = 0x06;
inline constexpr std::uint8_t kIdentityRequestSubId = 0x01;
inline constexpr std::uint8_t kIdentityReplySubId = 0x02;

// Device-specific command bytes (byte 4).
inline constexpr std::uint8_t kCmdStatus = 0x00;
inline constexpr std::uint8_t kCmdEnterUpdate = 0x01;
inline constexpr std::uint8_t kCmdWriteBlock = 0x02;
inline constexpr std::uint8_t kCmdCompletion = 0x02;
inline constexpr std::uint8_t kCmdIgnored = 0x03;
inline constexpr std::uint8_t kCmdFinish = 0x04;
inline constexpr std::uint8_t kCmdDeviceAcknowledged = 0x05;
inline constexpr std::uint8_t kCmdErase = 0x0A;
inline constexpr std::uint8_t kCmdMemory = 0x60;
inline constexpr std::uint8_t kReadRequestSubCode = 0x30;
inline constexpr std::uint8_t kReadReplyMarker = 0x04;

inline constexpr std::uint8_t kStatusOk = 0;
inline constexpr std::uint8_t kStatusError = 1;
inline constexpr std::uint8_t kStatusNotInUpdateMode = 11;

inline constexpr std::size_t kIdentityRequestLength = 6;
inline constexpr std::size_t kIdentityReplyLength = 15;
inline constexpr std::size_t kStatusMessageLength = 7;
inline constexpr std::size_t kShortRequestLength = 6;  // enter-update and finish
inline constexpr std::size_t kEraseRequestLength = 16;
inline constexpr std::size_t kReadMemoryRequestLength = 17;
inline constexpr std::int32_t kMaxBlockBytes = 4096;
inline constexpr std::size_t kWriteBlockOverhead = 18;  // head, address, count, CRC, end
inline constexpr std::size_t kMaxWriteBlockRequestLength = 4700;
inline constexpr std::size_t kReadReplyOverhead = 17;

// Writes the five-byte head of a device-specific message (F0 52 00, device byte, command) and
// returns the position after it. Shared by the updater's builders and the device's.
std::uint8_t* WriteDeviceHead(std::uint8_t* out, std::uint8_t deviceByte, std::uint8_t command);

// Length of a write-block request carrying n data bytes.
std::size_t WriteBlockRequestLength(std::int32_t n);

// Builders. Each writes one complete message into `out` (which holds at least the message's
// length) and returns that length. The device byte is the first byte of the current device id.
std::size_t BuildIdentityRequest(std::uint8_t* out);
std::size_t BuildStatusMessage(std::uint8_t* out, std::uint8_t deviceByte, std::uint8_t status);
std::size_t BuildEnterUpdateRequest(std::uint8_t* out, std::uint8_t deviceByte);
std::size_t BuildFinishRequest(std::uint8_t* out, std::uint8_t deviceByte);
std::size_t BuildEraseRequest(std::uint8_t* out, std::uint8_t deviceByte, std::int32_t address,
                              std::int32_t size);
// n must lie in 0..kMaxBlockBytes; any other count builds nothing and returns 0, so that a
// count the two-byte field cannot carry never reaches the wire.
std::size_t BuildWriteBlockRequest(std::uint8_t* out, std::uint8_t deviceByte,
                                   const std::uint8_t* data, std::int32_t address, std::int32_t n);
std::size_t BuildReadMemoryRequest(std::uint8_t* out, std::uint8_t deviceByte,
                                   std::uint32_t address, std::uint32_t count);

// The updater's own identity reply (universal 06 02), 15 bytes: bytes 6 to 9 carry `id`, the
// device id the updater accepted (all zero before it accepted one).
std::size_t BuildIdentityReply(std::uint8_t* out, const DeviceId& id);

// What a received message is. Messages too short for the positions their class reads are
// Ignored, except read replies (command 0x60, byte 5 = 0x04), which then count as failed reads.
enum class MessageClass {
    Ignored,
    StatusReply,       // command 0x00: status in byte 5
    DeviceCommand,     // commands 0x01, 0x04, 0x05: acknowledged
    CompletionNotice,  // command 0x02: success for whatever is waiting
    ReadReplyOther,    // command 0x60, byte 5 not 0x04: signal only
    ReadReplyFailed,   // command 0x60, byte 5 = 0x04 but wrong sub-code or malformed
    ReadMemoryReply,   // a well-formed read reply; data and CRC are located
    UnknownCommand,    // any other device-specific command: error reply
    IdentityRequest,   // universal 06 01 from the device
    IdentityReply,     // universal 06 02 from the device: device id in bytes 6 to 9
    UnknownUniversal,  // universal 06 xx: error reply
};

struct ClassifiedMessage {
    MessageClass kind = MessageClass::Ignored;
    std::uint8_t status = 0;               // StatusReply
    DeviceId deviceId{};                   // IdentityReply
    std::int32_t dataCount = 0;            // ReadMemoryReply: n
    const std::uint8_t* packed = nullptr;  // ReadMemoryReply: the packed data, inside the message
    std::int32_t packedCount = 0;          // ReadMemoryReply: PackedLength(n)
    std::uint32_t crc = 0;                 // ReadMemoryReply: the CRC the device sent
};

// Classifies one received message of `length` bytes. Never reads past bytes[length - 1].
ClassifiedMessage ClassifyMessage(const std::uint8_t* bytes, std::size_t length);

}  // namespace tq5::protocol
