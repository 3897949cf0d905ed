// The images built into the program: sizes, version fields, bounds of ReadImageBytes.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "engine/seams/firmware_images.hpp"
#include "firmware/embedded_firmware.hpp"

namespace tq5::engine {
namespace {

std::string ReadVersion(const VersionField& field) {
    std::array<std::uint8_t, 4> out{};
    EXPECT_TRUE(ReadImageBytes(firmware::EmbeddedFirmware(), field.imageId, field.imageOffset, 4,
                               out.data()));
    return std::string(out.begin(), out.end());
}

TEST(EmbeddedFirmware, HoldsFiveImagesThatFitTheirRegions) {
    for (const ImageRegion& region : kImageRegions) {
        const auto image = firmware::EmbeddedFirmware().Locate(region.imageId);
        ASSERT_TRUE(image.has_value()) << region.imageId;
        ASSERT_NE(image->data, nullptr);
        EXPECT_LE(image->size, region.eraseSize) << region.imageId;
        if (firmware::EmbeddedFirmwareIsGenerated()) {
            EXPECT_EQ(image->size, region.shippedSize) << region.imageId;
        }
    }
}

TEST(EmbeddedFirmware, OtherIdsAreNotFound) {
    for (int id : {0, 128, 130, 141, 143, -1}) {
        EXPECT_FALSE(firmware::EmbeddedFirmware().Locate(id).has_value()) << id;
    }
}

TEST(EmbeddedFirmware, GeneratedImagesCarryTheShippedVersionFields) {
    if (!firmware::EmbeddedFirmwareIsGenerated()) GTEST_SKIP() << "built with real images";
    EXPECT_EQ(ReadVersion(kBootVersion), "1.00");
    EXPECT_EQ(ReadVersion(kPresetVersion), "1.00");
    EXPECT_EQ(ReadVersion(kSystemVersion), "1.10");
}

TEST(EmbeddedFirmware, GeneratedContentSetsBitSevenOftenAndDiffersPerImage) {
    if (!firmware::EmbeddedFirmwareIsGenerated()) GTEST_SKIP() << "built with real images";
    const auto main = firmware::EmbeddedFirmware().Locate(kImageMain);
    const auto data = firmware::EmbeddedFirmware().Locate(kImageData);
    ASSERT_TRUE(main && data);
    std::size_t high = 0;
    for (std::uint32_t i = 0; i < main->size; ++i) high += (main->data[i] & 0x80u) ? 1 : 0;
    const double share = static_cast<double>(high) / main->size;
    EXPECT_GT(share, 0.4);
    EXPECT_LT(share, 0.6);
    EXPECT_NE(std::memcmp(main->data, data->data, 4096), 0);
}

TEST(ReadImageBytes, RefusesReadsPastTheImageAndLeavesTheBufferAlone) {
    const auto boot = firmware::EmbeddedFirmware().Locate(kImageBoot);
    ASSERT_TRUE(boot);
    std::array<std::uint8_t, 8> out;
    out.fill(0xA5);
    EXPECT_FALSE(
        ReadImageBytes(firmware::EmbeddedFirmware(), kImageBoot, boot->size - 3, 4, out.data()));
    EXPECT_FALSE(
        ReadImageBytes(firmware::EmbeddedFirmware(), kImageBoot, boot->size + 1, 0, out.data()));
    // offset + length wraps around 32 bits: must not pass as a short read.
    EXPECT_FALSE(
        ReadImageBytes(firmware::EmbeddedFirmware(), kImageBoot, 16, 0xFFFFFFF8u, out.data()));
    EXPECT_FALSE(ReadImageBytes(firmware::EmbeddedFirmware(), 140, 0, 4, out.data()));
    for (std::uint8_t b : out) EXPECT_EQ(b, 0xA5);
}

TEST(ReadImageBytes, ReadsUpToTheLastByte) {
    const auto boot = firmware::EmbeddedFirmware().Locate(kImageBoot);
    ASSERT_TRUE(boot);
    std::array<std::uint8_t, 4> out{};
    ASSERT_TRUE(
        ReadImageBytes(firmware::EmbeddedFirmware(), kImageBoot, boot->size - 4, 4, out.data()));
    EXPECT_EQ(std::memcmp(out.data(), boot->data + boot->size - 4, 4), 0);
    EXPECT_TRUE(
        ReadImageBytes(firmware::EmbeddedFirmware(), kImageBoot, boot->size, 0, out.data()));
}

}  // namespace
}  // namespace tq5::engine
