#include "protocol/codec.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/bytes.hpp"

#ifdef TQ5_HAVE_ZLIB
#include <zlib.h>
#endif

namespace tq5::protocol {
namespace {

using test::Bytes;
using test::Hex;

std::uint32_t Crc(const std::string& s) {
    return ComputeCrc32(reinterpret_cast<const std::uint8_t*>(s.data()),
                        static_cast<std::uint32_t>(s.size()));
}

TEST(Crc32, KnownValues) {
    EXPECT_EQ(Crc("abc"), 0xCADBBE3Du);
    EXPECT_EQ(Crc("123456789"), 0x340BC6D9u);
    EXPECT_EQ(ComputeCrc32(nullptr, 0), 0xFFFFFFFFu);
    const Bytes three = Hex("12 80 FF");
    EXPECT_EQ(ComputeCrc32(three.data(), 3), 0x099D2635u);
    const Bytes four = Hex("10 80 7F FF");
    EXPECT_EQ(ComputeCrc32(four.data(), 4), 0xEA32E648u);
}

TEST(Crc32, ContinuingEqualsOnePass) {
    std::mt19937 rng(7);
    Bytes data(1000);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    for (std::uint32_t split : {0u, 1u, 7u, 8u, 9u, 500u, 1000u}) {
        const std::uint32_t head = ComputeCrc32(data.data(), split);
        EXPECT_EQ(ContinueCrc32(head, data.data() + split, 1000 - split),
                  ComputeCrc32(data.data(), 1000))
            << split;
    }
}

#ifdef TQ5_HAVE_ZLIB
TEST(Crc32, IsTheComplementOfZlibOnRandomBuffers) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        Bytes data(rng() % 5000);
        for (auto& b : data) b = static_cast<std::uint8_t>(rng());
        // Unaligned starts exercise the eight-at-a-time path from every offset.
        const std::size_t skip = data.empty() ? 0 : rng() % std::min<std::size_t>(data.size(), 8);
        const auto n = static_cast<std::uint32_t>(data.size() - skip);
        const auto zlib = static_cast<std::uint32_t>(
            crc32(crc32(0L, Z_NULL, 0), data.data() + skip, static_cast<uInt>(n)));
        ASSERT_EQ(ComputeCrc32(data.data() + skip, n), ~zlib) << "size " << data.size();
    }
}
#endif

TEST(PackPayload, ExamplesFromTheWire) {
    Bytes out(16, 0xEE);
    const Bytes eight = Hex("80 01 FF 7F 00 81 02 83");
    ASSERT_EQ(PackPayload(out.data(), eight.data(), 8), 10);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), Hex("52 00 01 7F 7F 00 01 02 40 03"));

    const Bytes three = Hex("12 80 FF");
    ASSERT_EQ(PackPayload(out.data(), three.data(), 3), 4);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), Hex("30 12 00 7F"));
}

TEST(PackPayload, NothingPacksToNothing) {
    Bytes out(4, 0xEE);
    EXPECT_EQ(PackPayload(out.data(), nullptr, 0), 0);
    EXPECT_EQ(out, Bytes(4, 0xEE));
    EXPECT_EQ(PackedLength(0), 0);
    EXPECT_EQ(UnpackPayload(out.data(), nullptr, 0), 0);
}

TEST(PackPayload, Lengths) {
    EXPECT_EQ(PackedLength(1), 2);
    EXPECT_EQ(PackedLength(6), 7);
    EXPECT_EQ(PackedLength(7), 8);
    EXPECT_EQ(PackedLength(8), 10);
    EXPECT_EQ(PackedLength(13), 15);
    EXPECT_EQ(PackedLength(4096), 4682);
    EXPECT_EQ(UnpackedLength(4682), 4096);
    EXPECT_EQ(UnpackedLength(7), 6);
    EXPECT_EQ(UnpackedLength(15), 13);
}

TEST(UnpackPayload, ExampleUnpacksBack) {
    const Bytes packed = Hex("52 00 01 7F 7F 00 01 02 40 03");
    Bytes out(8);
    ASSERT_EQ(UnpackPayload(out.data(), packed.data(), 10), 8);
    EXPECT_EQ(out, Hex("80 01 FF 7F 00 81 02 83"));
}

TEST(UnpackPayload, KeepsATopBitTheWireShouldNotCarry) {
    const Bytes packed = Hex("00 85");
    Bytes out(1);
    ASSERT_EQ(UnpackPayload(out.data(), packed.data(), 2), 1);
    EXPECT_EQ(out[0], 0x85);
}

TEST(PackPayload, RoundTripsEveryLengthUpTo4096) {
    std::mt19937 rng(99);
    Bytes source(4096);
    for (auto& b : source) b = static_cast<std::uint8_t>(rng());
    // One guard byte after each destination catches a write past its computed size.
    Bytes packed(4682 + 1);
    Bytes unpacked(4096 + 1);
    for (std::int32_t n = 0; n <= 4096; ++n) {
        const std::int32_t p = PackedLength(n);
        packed[static_cast<std::size_t>(p)] = 0xA5;
        ASSERT_EQ(PackPayload(packed.data(), source.data(), n), p) << n;
        ASSERT_EQ(packed[static_cast<std::size_t>(p)], 0xA5) << n;
        for (std::int32_t i = 0; i < p; ++i) ASSERT_LT(packed[static_cast<std::size_t>(i)], 0x80);
        unpacked[static_cast<std::size_t>(n)] = 0x5A;
        ASSERT_EQ(UnpackPayload(unpacked.data(), packed.data(), p), n) << n;
        ASSERT_EQ(unpacked[static_cast<std::size_t>(n)], 0x5A) << n;
        ASSERT_TRUE(std::equal(source.begin(), source.begin() + n, unpacked.begin())) << n;
    }
}

TEST(SeptetNumber, EncodesLeastSignificantGroupFirst) {
    std::uint8_t out[5];
    EncodeSeptetNumber(0xCADBBE3Du, out);
    EXPECT_EQ(Bytes(out, out + 5), Hex("3D 7C 6E 56 0C"));
    EncodeSeptetNumber(0x31FFCu, out);
    EXPECT_EQ(Bytes(out, out + 5), Hex("7C 3F 0C 00 00"));
    EncodeSeptetNumber(0xFFFFFFFFu, out);
    EXPECT_EQ(Bytes(out, out + 5), Hex("7F 7F 7F 7F 0F"));
}

TEST(SeptetNumber, DecodeDropsTheHighBitsOfTheLastByte) {
    EXPECT_EQ(DecodeSeptetNumber(Hex("7F 7F 7F 7F 7F").data()), 0xFFFFFFFFu);
    EXPECT_EQ(DecodeSeptetNumber(Hex("00 00 00 00 01").data()), 0x10000000u);
    EXPECT_EQ(DecodeSeptetNumber(Hex("3D 7C 6E 56 0C").data()), 0xCADBBE3Du);
    std::mt19937 rng(3);
    for (int i = 0; i < 1000; ++i) {
        const std::uint32_t v = rng();
        std::uint8_t out[5];
        EncodeSeptetNumber(v, out);
        ASSERT_EQ(DecodeSeptetNumber(out), v);
    }
}

TEST(TwoByteCount, WritesLowSevenBitsFirst) {
    std::uint8_t out[2];
    EncodeTwoByteCount(300, out);
    EXPECT_EQ(Bytes(out, out + 2), Hex("2C 02"));
    EXPECT_EQ(DecodeTwoByteCount(out), 300);
    EncodeTwoByteCount(16383, out);
    EXPECT_EQ(Bytes(out, out + 2), Hex("7F 7F"));
}

}  // namespace
}  // namespace tq5::protocol
