#include "protocol/codec.hpp"

#include <array>
#include <cstring>

namespace tq5::protocol {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

// Slicing-by-8 tables: table[0] is the classic byte table; table[k][i] is the CRC of byte i
// followed by k zero bytes. Eight bytes are folded per step, still one look-up per byte.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr CrcTables MakeTables() {
    CrcTables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int step = 0; step < 8; ++step) {
            c = (c & 1u) ? (c >> 1) ^ kPolynomial : (c >> 1);
        }
        t[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i) {
        for (std::size_t k = 1; k < 8; ++k) {
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
        }
    }
    return t;
}

constexpr CrcTables kTables = MakeTables();
static_assert(kTables[0][1] == 0x77073096u);
static_assert(kTables[0][255] == 0x2D02EF8Du);

std::uint32_t LoadLittleEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

std::uint32_t ContinueCrc32(std::uint32_t crc, const std::uint8_t* bytes, std::uint32_t count) {
    std::uint32_t c = crc;
    while (count >= 8) {
        const std::uint32_t lo = LoadLittleEndian32(bytes) ^ c;
        const std::uint32_t hi = LoadLittleEndian32(bytes + 4);
        c = kTables[7][lo & 0xFFu] ^ kTables[6][(lo >> 8) & 0xFFu] ^
            kTables[5][(lo >> 16) & 0xFFu] ^ kTables[4][lo >> 24] ^ kTables[3][hi & 0xFFu] ^
            kTables[2][(hi >> 8) & 0xFFu] ^ kTables[1][(hi >> 16) & 0xFFu] ^ kTables[0][hi >> 24];
        bytes += 8;
        count -= 8;
    }
    while (count-- > 0) {
        c = (c >> 8) ^ kTables[0][(c ^ *bytes++) & 0xFFu];
    }
    return c;
}

std::uint32_t ComputeCrc32(const std::uint8_t* bytes, std::uint32_t count) {
    return ContinueCrc32(0xFFFFFFFFu, bytes, count);
}

std::int32_t PackedLength(std::int32_t n) {
    if (n <= 0) return 0;
    const std::int32_t rest = n % 7;
    return 8 * (n / 7) + (rest != 0 ? rest + 1 : 0);
}

std::int32_t UnpackedLength(std::int32_t packedCount) {
    if (packedCount <= 0) return 0;
    return packedCount - (packedCount + 7) / 8;
}

std::int32_t PackPayload(std::uint8_t* dest, const std::uint8_t* src, std::int32_t n) {
    std::int32_t written = 0;
    std::int32_t i = 0;
    // Whole groups of seven: no per-byte bounds test in the hot loop.
    for (; i + 7 <= n; i += 7) {
        std::uint8_t lead = 0;
        std::uint8_t* out = dest + written;
        for (int j = 0; j < 7; ++j) {
            const std::uint8_t b = src[i + j];
            lead = static_cast<std::uint8_t>(lead | ((b >> 7) << (6 - j)));
            out[1 + j] = static_cast<std::uint8_t>(b & 0x7Fu);
        }
        out[0] = lead;
        written += 8;
    }
    if (i < n) {
        const std::int32_t r = n - i;
        std::uint8_t lead = 0;
        std::uint8_t* out = dest + written;
        for (std::int32_t j = 0; j < r; ++j) {
            const std::uint8_t b = src[i + j];
            lead = static_cast<std::uint8_t>(lead | ((b >> 7) << (6 - j)));
            out[1 + j] = static_cast<std::uint8_t>(b & 0x7Fu);
        }
        out[0] = lead;
        written += r + 1;
    }
    return written;
}

std::int32_t UnpackPayload(std::uint8_t* dest, const std::uint8_t* packed,
                           std::int32_t packedCount) {
    std::int32_t written = 0;
    std::int32_t g = 0;
    for (; g + 8 <= packedCount; g += 8) {
        const std::uint8_t lead = packed[g];
        std::uint8_t* out = dest + written;
        for (int j = 0; j < 7; ++j) {
            const auto top = static_cast<std::uint8_t>(((lead >> (6 - j)) & 1u) << 7);
            out[j] = static_cast<std::uint8_t>(packed[g + 1 + j] | top);
        }
        written += 7;
    }
    if (g < packedCount) {
        const std::int32_t k = packedCount - g;  // 1..7 packed bytes, k - 1 data bytes
        const std::uint8_t lead = packed[g];
        for (std::int32_t j = 0; j < k - 1; ++j) {
            const auto top = static_cast<std::uint8_t>(((lead >> (6 - j)) & 1u) << 7);
            dest[written + j] = static_cast<std::uint8_t>(packed[g + 1 + j] | top);
        }
        written += k - 1;
    }
    return written;
}

void EncodeSeptetNumber(std::uint32_t value, std::uint8_t* dest) {
    dest[0] = static_cast<std::uint8_t>(value & 0x7Fu);
    dest[1] = static_cast<std::uint8_t>((value >> 7) & 0x7Fu);
    dest[2] = static_cast<std::uint8_t>((value >> 14) & 0x7Fu);
    dest[3] = static_cast<std::uint8_t>((value >> 21) & 0x7Fu);
    dest[4] = static_cast<std::uint8_t>((value >> 28) & 0x0Fu);
}

std::uint32_t DecodeSeptetNumber(const std::uint8_t* src) {
    return (static_cast<std::uint32_t>(src[0] & 0x7Fu)) |
           (static_cast<std::uint32_t>(src[1] & 0x7Fu) << 7) |
           (static_cast<std::uint32_t>(src[2] & 0x7Fu) << 14) |
           (static_cast<std::uint32_t>(src[3] & 0x7Fu) << 21) |
           (static_cast<std::uint32_t>(src[4] & 0x0Fu) << 28);
}

void EncodeTwoByteCount(std::int32_t n, std::uint8_t* dest) {
    dest[0] = static_cast<std::uint8_t>(n & 0x7F);
    dest[1] = static_cast<std::uint8_t>((n >> 7) & 0x7F);
}

std::int32_t DecodeTwoByteCount(const std::uint8_t* src) {
    return static_cast<std::int32_t>(src[0]) + 128 * static_cast<std::int32_t>(src[1]);
}

}  // namespace tq5::protocol
