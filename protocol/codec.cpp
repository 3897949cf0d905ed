#include "protocol/codec.hpp"

#include <array>
#include <bit>
#include <cstring>

namespace tq5::protocol {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

using CrcTable = std::array<std::uint32_t, 256>;

// The register after `zeros` zero bytes, starting from `crc`.
constexpr std::uint32_t AdvanceOverZeros(std::uint32_t crc, const CrcTable& byteTable,
                                         std::size_t zeros) {
    for (std::size_t i = 0; i < zeros; ++i) crc = (crc >> 8) ^ byteTable[crc & 0xFFu];
    return crc;
}

// tables[k][b]: the register that byte b leaves when `first + k` zero bytes follow it.
template <std::size_t Count>
constexpr std::array<CrcTable, Count> MakeTables(std::size_t first) {
    CrcTable byteTable{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int step = 0; step < 8; ++step) c = (c & 1u) ? (c >> 1) ^ kPolynomial : (c >> 1);
        byteTable[i] = c;
    }
    std::array<CrcTable, Count> tables{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = AdvanceOverZeros(byteTable[i], byteTable, first);
        for (std::size_t k = 0; k < Count; ++k) {
            tables[k][i] = c;
            c = AdvanceOverZeros(c, byteTable, 1);
        }
    }
    return tables;
}

// Slicing by 16: sixteen bytes are folded per step with one look-up per byte, so the look-ups
// of a step run side by side instead of one after the other.
constexpr std::size_t kSlices = 16;
constexpr auto kSliceTables = MakeTables<kSlices>(0);
static_assert(kSliceTables[0][1] == 0x77073096u);
static_assert(kSliceTables[0][255] == 0x2D02EF8Du);

// Braiding: the data is dealt out as 8-byte words to six lanes that run independently. Each
// word's bytes are carried forward one whole round (48 bytes) with one look-up per byte and
// folded into the lane's next word, so six dependency chains overlap. Byte j of a word lies
// 47 - j bytes before the start of the lane's next word.
constexpr std::size_t kLanes = 6;
constexpr std::size_t kWord = 8;
constexpr std::size_t kRound = kLanes * kWord;
constexpr auto kBraidTables = MakeTables<kWord>(kRound - kWord);  // zeros 40..47

std::uint32_t Load32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Little-endian hosts only read the word as it lies; others assemble it byte by byte.
std::uint64_t Load64(const std::uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint64_t w;
        std::memcpy(&w, p, sizeof w);
        return w;
    } else {
        return static_cast<std::uint64_t>(Load32(p)) |
               (static_cast<std::uint64_t>(Load32(p + 4)) << 32);
    }
}

// The contribution of one lane word, carried to the lane's next word.
[[gnu::always_inline]] inline std::uint32_t BraidWord(std::uint64_t w) {
    return kBraidTables[7][w & 0xFFu] ^ kBraidTables[6][(w >> 8) & 0xFFu] ^
           kBraidTables[5][(w >> 16) & 0xFFu] ^ kBraidTables[4][(w >> 24) & 0xFFu] ^
           kBraidTables[3][(w >> 32) & 0xFFu] ^ kBraidTables[2][(w >> 40) & 0xFFu] ^
           kBraidTables[1][(w >> 48) & 0xFFu] ^ kBraidTables[0][w >> 56];
}

std::uint32_t SliceBy16(std::uint32_t c, const std::uint8_t* bytes, std::size_t count) {
    const auto& t = kSliceTables;
    while (count >= kSlices) {
        const std::uint32_t w0 = Load32(bytes) ^ c;
        const std::uint32_t w1 = Load32(bytes + 4);
        const std::uint32_t w2 = Load32(bytes + 8);
        const std::uint32_t w3 = Load32(bytes + 12);
        c = t[15][w0 & 0xFFu] ^ t[14][(w0 >> 8) & 0xFFu] ^ t[13][(w0 >> 16) & 0xFFu] ^
            t[12][w0 >> 24] ^ t[11][w1 & 0xFFu] ^ t[10][(w1 >> 8) & 0xFFu] ^
            t[9][(w1 >> 16) & 0xFFu] ^ t[8][w1 >> 24] ^ t[7][w2 & 0xFFu] ^ t[6][(w2 >> 8) & 0xFFu] ^
            t[5][(w2 >> 16) & 0xFFu] ^ t[4][w2 >> 24] ^ t[3][w3 & 0xFFu] ^ t[2][(w3 >> 8) & 0xFFu] ^
            t[1][(w3 >> 16) & 0xFFu] ^ t[0][w3 >> 24];
        bytes += kSlices;
        count -= kSlices;
    }
    while (count-- > 0) c = (c >> 8) ^ t[0][(c ^ *bytes++) & 0xFFu];
    return c;
}

}  // namespace

std::uint32_t ContinueCrc32(std::uint32_t crc, const std::uint8_t* bytes, std::uint32_t count) {
    std::size_t n = count;
    if (n >= 2 * kRound) {
        // All rounds but the last run braided; the register starts in lane 0's first word.
        std::uint32_t s0 = crc, s1 = 0, s2 = 0, s3 = 0, s4 = 0, s5 = 0;
        const std::size_t rounds = n / kRound;
        for (std::size_t r = 1; r < rounds; ++r) {
            s0 = BraidWord(Load64(bytes) ^ s0);
            s1 = BraidWord(Load64(bytes + 8) ^ s1);
            s2 = BraidWord(Load64(bytes + 16) ^ s2);
            s3 = BraidWord(Load64(bytes + 24) ^ s3);
            s4 = BraidWord(Load64(bytes + 32) ^ s4);
            s5 = BraidWord(Load64(bytes + 40) ^ s5);
            bytes += kRound;
        }
        // The last round takes the lanes' carried values into its words and runs plainly.
        std::uint8_t last[kRound];
        std::memcpy(last, bytes, kRound);
        const std::uint32_t carried[kLanes] = {s0, s1, s2, s3, s4, s5};
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            for (std::size_t j = 0; j < 4; ++j) {
                last[lane * kWord + j] ^= static_cast<std::uint8_t>(carried[lane] >> (8 * j));
            }
        }
        crc = SliceBy16(0, last, kRound);
        bytes += kRound;
        n -= rounds * kRound;
    }
    return SliceBy16(crc, bytes, n);
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
