// The flash plan against the images: what the write rows send and what the erase rows cover.

#include <gtest/gtest.h>

#include <vector>

#include "engine/seams/firmware_images.hpp"
#include "firmware/embedded_firmware.hpp"

namespace tq5::engine {
namespace {

constexpr std::uint32_t kSector = 4096;

TEST(FlashPlan, WriteRowOfSizeZeroWritesTheWholeImage) {
    if (!firmware::EmbeddedFirmwareIsGenerated()) GTEST_SKIP() << "built with real images";
    const std::vector<std::pair<int, std::uint32_t>> expected = {{kImagePreset, 4096},
                                                                 {kImageBoot, 204800},
                                                                 {kImageMain, 283088},
                                                                 {kImageData, 3297280},
                                                                 {kImageSystem, 4096}};
    std::vector<std::pair<int, std::uint32_t>> written;
    for (const FlashPlanRow& row : kFlashPlan) {
        if (row.type != FlashStepType::Write) continue;
        ASSERT_EQ(row.size, 0u);
        const auto image = firmware::EmbeddedFirmware().Locate(static_cast<int>(row.resourceId));
        ASSERT_TRUE(image);
        written.emplace_back(static_cast<int>(row.resourceId), image->size);
    }
    EXPECT_EQ(written, expected);
}

TEST(FlashPlan, EraseRowsCoverTheFlashButTheBlockAfterTheSystemBlock) {
    std::vector<int> erased(kFlashSize / kSector, 0);
    for (const FlashPlanRow& row : kFlashPlan) {
        if (row.type != FlashStepType::Erase) continue;
        ASSERT_EQ(row.address % kSector, 0u);
        ASSERT_EQ(row.size % kSector, 0u);
        ASSERT_LE(row.address + row.size, kFlashSize);
        for (std::uint32_t a = row.address; a < row.address + row.size; a += kSector) {
            ++erased[a / kSector];
        }
    }
    const std::uint32_t gapStart = 0xD2000 + 0x1000;
    const std::uint32_t gapEnd = 0xDB000;
    EXPECT_EQ(gapEnd - gapStart, 32u * 1024u);
    for (std::uint32_t sector = 0; sector < erased.size(); ++sector) {
        const std::uint32_t a = sector * kSector;
        const int expected = (a >= gapStart && a < gapEnd) ? 0 : 1;
        ASSERT_EQ(erased[sector], expected) << "sector at 0x" << std::hex << a;
    }
}

TEST(FlashPlan, EveryWriteLandsInsideAnEarlierEraseOfItsRegion) {
    for (std::size_t i = 0; i < kFlashPlan.size(); ++i) {
        const FlashPlanRow& row = kFlashPlan[i];
        if (row.type != FlashStepType::Write) continue;
        const auto image = firmware::EmbeddedFirmware().Locate(static_cast<int>(row.resourceId));
        ASSERT_TRUE(image);
        bool covered = false;
        for (std::size_t j = 0; j < i; ++j) {
            const FlashPlanRow& erase = kFlashPlan[j];
            covered =
                covered || (erase.type == FlashStepType::Erase && erase.address <= row.address &&
                            row.address + image->size <= erase.address + erase.size);
        }
        EXPECT_TRUE(covered) << "row " << i + 1;
    }
}

}  // namespace
}  // namespace tq5::engine
