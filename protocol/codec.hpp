#pragma once
// Byte-level encodings shared by every message on the wire: the five-byte septet number,
// 7-in-8 packing of binary data and the block CRC. Pure functions on caller storage.

#include <cstddef>
#include <cstdint>

namespace tq5::protocol {

// Reflected CRC-32 (polynomial 0xEDB88320, start 0xFFFFFFFF) without the final inversion:
// the bitwise complement of zlib's crc32 over the same bytes.
std::uint32_t ComputeCrc32(const std::uint8_t* bytes, std::uint32_t count);

// Continues a CRC over more bytes: ComputeCrc32(a+b) == ContinueCrc32(ComputeCrc32(a), b).
std::uint32_t ContinueCrc32(std::uint32_t crc, const std::uint8_t* bytes, std::uint32_t count);

// n + ceil(n / 7): the packed size of n binary bytes. 0 for n <= 0.
std::int32_t PackedLength(std::int32_t n);

// Number of bytes that P packed bytes unpack to: P - ceil(P / 8). 0 for P <= 0.
std::int32_t UnpackedLength(std::int32_t packedCount);

// Packs n bytes seven into eight; the destination holds PackedLength(n) bytes.
// Returns the number of bytes written.
std::int32_t PackPayload(std::uint8_t* dest, const std::uint8_t* src, std::int32_t n);

// Unpacks P packed bytes; the destination holds UnpackedLength(P) bytes.
// Returns the number of bytes written.
std::int32_t UnpackPayload(std::uint8_t* dest, const std::uint8_t* packed,
                           std::int32_t packedCount);

// Writes a 32-bit value as five bytes of seven bits, least significant group first.
void EncodeSeptetNumber(std::uint32_t value, std::uint8_t* dest);

// Reads five bytes back; only the low four bits of the last byte count.
std::uint32_t DecodeSeptetNumber(const std::uint8_t* src);

// Two-byte count (0..16383) as used by write blocks and read replies.
inline constexpr std::int32_t kMaxTwoByteCount = 16383;
void EncodeTwoByteCount(std::int32_t n, std::uint8_t* dest);
std::int32_t DecodeTwoByteCount(const std::uint8_t* src);

}  // namespace tq5::protocol
