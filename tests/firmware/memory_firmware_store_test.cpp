#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "firmware/embedded_firmware.hpp"
#include "firmware/memory_firmware_store.hpp"

namespace tq5::engine {
namespace {

TEST(MemoryFirmwareStore, CopyOfTheEmbeddedImagesReadsTheSame) {
    const firmware::MemoryFirmwareStore copy =
        firmware::MemoryFirmwareStore::CopyOf(firmware::EmbeddedFirmware());
    for (int id : kImageIds) {
        const auto original = firmware::EmbeddedFirmware().Locate(id);
        const auto copied = copy.Locate(id);
        ASSERT_TRUE(original && copied);
        ASSERT_EQ(copied->size, original->size);
        EXPECT_NE(copied->data, original->data);
        EXPECT_EQ(std::memcmp(copied->data, original->data, original->size), 0);
    }
}

TEST(MemoryFirmwareStore, OverwriteChangesAVersionFieldInsideTheImageOnly) {
    firmware::MemoryFirmwareStore store;
    store.Set(kImageSystem, std::vector<std::uint8_t>(4096, 0x11));
    const std::array<std::uint8_t, 4> version = {'1', '.', '2', '0'};
    EXPECT_TRUE(store.Overwrite(kImageSystem, 4064, version.data(), 4));
    EXPECT_FALSE(store.Overwrite(kImageSystem, 4093, version.data(), 4));
    EXPECT_FALSE(store.Overwrite(kImageSystem, 0xFFFFFFFEu, version.data(), 4));
    EXPECT_FALSE(store.Overwrite(kImageBoot, 0, version.data(), 4));

    std::array<std::uint8_t, 4> out{};
    ASSERT_TRUE(ReadImageBytes(store, kImageSystem, 4064, 4, out.data()));
    EXPECT_EQ(out, version);
    ASSERT_TRUE(ReadImageBytes(store, kImageSystem, 4092, 4, out.data()));
    EXPECT_EQ(out, (std::array<std::uint8_t, 4>{0x11, 0x11, 0x11, 0x11}));
}

TEST(MemoryFirmwareStore, RemovedImageIsMissing) {
    firmware::MemoryFirmwareStore store =
        firmware::MemoryFirmwareStore::CopyOf(firmware::EmbeddedFirmware());
    store.Remove(kImageMain);
    EXPECT_FALSE(store.Locate(kImageMain).has_value());
    std::array<std::uint8_t, 4> out{};
    EXPECT_FALSE(ReadImageBytes(store, kImageMain, 0, 4, out.data()));
    EXPECT_TRUE(store.Locate(kImageData).has_value());
}

}  // namespace
}  // namespace tq5::engine
