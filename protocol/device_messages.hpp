#pragma once
// The device's side of the message set: what the TQ-5 makes of each message the updater
// sends, and the messages it sends back. Uses the codec and head writer of messages.hpp; the
// virtual TQ-5 (sim/) is built on it.

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/codec.hpp"
#include "protocol/messages.hpp"

namespace tq5::protocol {

enum class RequestKind {
    Ignored,          // not for the device: no SysEx, another family, unknown universal sub-id
    Malformed,        // a known request whose length, terminator or data bytes are wrong
    IdentityRequest,  // universal 06 01
    EnterUpdate,      // command 0x01
    Finish,           // command 0x04
    Erase,            // command 0x0A: address, size
    WriteBlock,       // command 0x02: address, count, packed data, CRC
    ReadMemory,       // command 0x60 0x30: address, count
    StatusMessage,    // the updater's acknowledge or error reply (command 0x00)
    IdentityReply,    // the updater's own identity reply (universal 06 02)
    UnknownCommand,   // any other device-specific command
};

// One parsed message from the updater. Pointers point into the parsed message.
struct DeviceRequest {
    RequestKind kind = RequestKind::Ignored;
    bool hasDeviceByte = false;  // device-specific messages long enough to carry one
    std::uint8_t deviceByte = 0;
    std::uint8_t command = 0;              // device-specific messages
    std::uint8_t status = 0;               // StatusMessage
    DeviceId deviceId{};                   // IdentityReply
    std::uint32_t address = 0;             // Erase, WriteBlock, ReadMemory
    std::uint32_t size = 0;                // Erase: bytes to erase. ReadMemory: bytes to read
    std::int32_t dataCount = 0;            // WriteBlock: n
    const std::uint8_t* packed = nullptr;  // WriteBlock: the packed data
    std::int32_t packedCount = 0;          // WriteBlock: PackedLength(n)
    std::uint32_t crc = 0;                 // WriteBlock: the CRC the updater sent
};

// How far a parse trusts the message's layout.
enum class Layout {
    Checked,  // the right length, 0xF7 last and every byte between below 0x80
    Trusted,  // long enough for the fields read: the updater's own messages, which its
              // builders made, read back for a record of what was sent
};

// Parses one whole message. With Layout::Checked a request is accepted only in its exact
// layout; anything else of a known kind is Malformed. Never reads outside
// bytes[0 .. length - 1].
DeviceRequest ParseRequest(const std::uint8_t* bytes, std::size_t length,
                           Layout layout = Layout::Checked);

// The device's identity reply: F0 7E 00 06 02 52, the id, a four-byte software revision, F7.
inline constexpr std::size_t kDeviceIdentityReplyLength = 15;
std::size_t BuildDeviceIdentityReply(std::uint8_t* out, const DeviceId& id,
                                     const std::array<std::uint8_t, 4>& revision);

// The largest count a read reply's two-byte field carries.
inline constexpr std::uint32_t kMaxReadReplyBytes = static_cast<std::uint32_t>(kMaxTwoByteCount);
std::size_t ReadMemoryReplyLength(std::uint32_t n);
// F0 52 00 dev 60 04 30 00 00, n as two bytes, the packed data, its CRC, F7. n must not exceed
// kMaxReadReplyBytes; a larger n builds nothing and returns 0.
std::size_t BuildReadMemoryReply(std::uint8_t* out, std::uint8_t deviceByte,
                                 const std::uint8_t* data, std::uint32_t n);
// Offset of the CRC's five bytes inside a read reply of n data bytes.
std::size_t ReadMemoryReplyCrcOffset(std::uint32_t n);

// A bare device-specific message F0 52 00 dev command F7 (6 bytes): the completion notice
// (0x02) and the device's own commands (0x01, 0x03, 0x04, 0x05, others).
inline constexpr std::size_t kDeviceCommandLength = 6;
std::size_t BuildDeviceCommand(std::uint8_t* out, std::uint8_t deviceByte, std::uint8_t command);
std::size_t BuildCompletionNotice(std::uint8_t* out, std::uint8_t deviceByte);

// A universal general-information message F0 7E 00 06 subId F7 (6 bytes); sub-id 0x01 is an
// identity request, others are unknown to the updater.
std::size_t BuildUniversalMessage(std::uint8_t* out, std::uint8_t subId);

}  // namespace tq5::protocol
