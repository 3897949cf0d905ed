// The virtual TQ-5 answering the updater's requests: identity, modes, erase, write, read.

#include <gtest/gtest.h>

#include <cstring>

#include "device_harness.hpp"
#include "engine/seams/firmware_images.hpp"
#include "firmware/embedded_firmware.hpp"
#include "firmware/memory_firmware_store.hpp"
#include "protocol/codec.hpp"
#include "sim/device_status.hpp"

namespace tq5::test {
namespace {

using sim::DeviceMode;

sim::DeviceOptions InMode(DeviceMode mode) {
    sim::DeviceOptions options;
    options.mode = mode;
    return options;
}

// The four bytes a read reply carries, or an empty vector when the reply is anything else.
Bytes ReadDataOf(const std::vector<Bytes>& replies) {
    if (replies.size() != 1) return {};
    const protocol::ClassifiedMessage c =
        protocol::ClassifyMessage(replies[0].data(), replies[0].size());
    if (c.kind != protocol::MessageClass::ReadMemoryReply) return {};
    Bytes data(static_cast<std::size_t>(c.dataCount));
    protocol::UnpackPayload(data.data(), c.packed, c.packedCount);
    if (protocol::ComputeCrc32(data.data(), static_cast<std::uint32_t>(data.size())) != c.crc)
        return {};
    return data;
}

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(VirtualDevice, AnswersTheIdentityRequestWithItsId) {
    DeviceHarness h;
    EXPECT_EQ(h.Exchange(IdentityRequest()),
              std::vector<Bytes>{Hex("F0 7E 00 06 02 52 6E 00 05 00 31 30 30 30 F7")});
    h.device.SetDeviceId({0x6E, 0x00, 0x07, 0x00});
    const std::vector<Bytes> replies = h.Exchange(IdentityRequest());
    ASSERT_EQ(replies.size(), 1u);
    const protocol::ClassifiedMessage c =
        protocol::ClassifyMessage(replies[0].data(), replies[0].size());
    EXPECT_EQ(c.kind, protocol::MessageClass::IdentityReply);
    EXPECT_EQ(c.deviceId, (protocol::DeviceId{0x6E, 0x00, 0x07, 0x00}));
}

TEST(VirtualDevice, EnterUpdateIsRefusedInNormalModeWithStatus11) {
    DeviceHarness h(InMode(DeviceMode::Normal));
    EXPECT_EQ(h.StatusOf(EnterUpdate()), sim::kStatusNotInUpdateMode);
    EXPECT_EQ(h.device.Mode(), DeviceMode::Normal);
}

TEST(VirtualDevice, EnterUpdateFromUpdateReadyStartsFlashWritingAndFinishEndsIt) {
    DeviceHarness h(InMode(DeviceMode::UpdateReady));
    EXPECT_EQ(h.StatusOf(EnterUpdate()), 0);
    EXPECT_EQ(h.device.Mode(), DeviceMode::FlashWriting);
    EXPECT_EQ(h.StatusOf(EnterUpdate()), 0) << "a resent request must not fail";
    EXPECT_EQ(h.StatusOf(Finish()), 0);
    EXPECT_EQ(h.device.Mode(), DeviceMode::Normal);
    EXPECT_EQ(h.StatusOf(EnterUpdate()), sim::kStatusNotInUpdateMode);
}

TEST(VirtualDevice, FinishCanAnswerWithTheCompletionNotice) {
    sim::DeviceOptions options;
    options.finishWithCompletionNotice = true;
    DeviceHarness h(options);
    EXPECT_EQ(h.Exchange(Finish()), std::vector<Bytes>{Hex("F0 52 00 6E 02 F7")});
}

TEST(VirtualDevice, EraseAndWriteNeedTheFlashWritingMode) {
    for (DeviceMode mode : {DeviceMode::Normal, DeviceMode::UpdateReady}) {
        DeviceHarness h(InMode(mode));
        const Bytes before = h.device.ReadFlash(0x32000, 4096);
        EXPECT_EQ(h.StatusOf(Erase(0x32000, 4096)), sim::kStatusNotWriting);
        EXPECT_EQ(h.StatusOf(WriteBlock(0xD3000, Bytes(16, 0x00))), sim::kStatusNotWriting);
        EXPECT_EQ(h.device.ReadFlash(0x32000, 4096), before);
        EXPECT_EQ(h.device.ReadFlash(0xD3000, 16), Bytes(16, 0xFF));
    }
}

TEST(VirtualDevice, ReadsWorkInEveryMode) {
    for (DeviceMode mode :
         {DeviceMode::Normal, DeviceMode::UpdateReady, DeviceMode::FlashWriting}) {
        DeviceHarness h(InMode(mode));
        EXPECT_EQ(Text(ReadDataOf(h.Exchange(ReadMemory(engine::kSystemVersion.flashAddress, 4)))),
                  "1.05");
    }
}

TEST(VirtualDevice, InstalledFirmwareDefaultsToTheCarriedImagesWithAnOlderSystemVersion) {
    DeviceHarness h;
    EXPECT_EQ(Text(ReadDataOf(h.Exchange(ReadMemory(engine::kBootVersion.flashAddress, 4)))),
              "1.00");
    EXPECT_EQ(Text(ReadDataOf(h.Exchange(ReadMemory(engine::kPresetVersion.flashAddress, 4)))),
              "1.00");
    const sim::FlashState state = h.device.InspectFlash(firmware::EmbeddedFirmware());
    EXPECT_EQ(sim::VersionText(state.systemVersion), "1.05");
    for (const sim::RegionState& region : state.regions) {
        EXPECT_EQ(region.holdsImage, region.imageId != engine::kImageSystem) << region.imageId;
    }
}

TEST(VirtualDevice, InstalledFirmwareCanBeErasedOrCarryOtherVersions) {
    sim::DeviceOptions options;
    options.firmware.erased = true;
    DeviceHarness erased(options);
    EXPECT_EQ(ReadDataOf(erased.Exchange(ReadMemory(engine::kSystemVersion.flashAddress, 4))),
              Bytes(4, 0xFF));
    EXPECT_TRUE(erased.device.InspectFlash(firmware::EmbeddedFirmware()).regions[0].erased);

    options.firmware = {};
    options.firmware.bootVersion = "0.90";
    options.firmware.systemVersion = "";  // the image's own
    DeviceHarness other(options);
    const sim::FlashState state = other.device.InspectFlash(firmware::EmbeddedFirmware());
    EXPECT_EQ(sim::VersionText(state.bootVersion), "0.90");
    EXPECT_EQ(sim::VersionText(state.systemVersion), "1.10");
}

TEST(VirtualDevice, InstalledFirmwareCanComeFromAnotherStoreAndIsCutAtItsRegion) {
    firmware::MemoryFirmwareStore store =
        firmware::MemoryFirmwareStore::CopyOf(firmware::EmbeddedFirmware());
    store.Set(engine::kImagePreset, Bytes(8192, 0x5A));  // twice its region
    sim::DeviceOptions options;
    options.firmware.images = &store;
    options.firmware.systemVersion = "";
    DeviceHarness h(options);
    EXPECT_EQ(h.device.ReadFlash(0x32000, 4096), Bytes(4096, 0x5A));
    const auto main = firmware::EmbeddedFirmware().Locate(engine::kImageMain);
    ASSERT_TRUE(main);
    const Bytes next = h.device.ReadFlash(0x33000, 16);
    EXPECT_EQ(next, Bytes(main->data, main->data + 16)) << "the next region keeps its image";
    const sim::FlashState state = h.device.InspectFlash(store);
    for (const sim::RegionState& region : state.regions) {
        EXPECT_EQ(region.holdsImage, region.imageId != engine::kImagePreset) << region.imageId;
    }
}

TEST(VirtualDevice, EraseSetsTheRegionToFFAndNothingElse) {
    DeviceHarness h(InMode(DeviceMode::FlashWriting));
    const Bytes neighbourBefore = h.device.ReadFlash(0x31000, 4096);
    const Bytes afterBefore = h.device.ReadFlash(0x33000, 4096);
    EXPECT_EQ(h.StatusOf(Erase(0x32000, 0x1000)), 0);
    EXPECT_EQ(h.device.ReadFlash(0x32000, 0x1000), Bytes(0x1000, 0xFF));
    EXPECT_EQ(h.device.ReadFlash(0x31000, 4096), neighbourBefore);
    EXPECT_EQ(h.device.ReadFlash(0x33000, 4096), afterBefore);
}

TEST(VirtualDevice, EraseOutsideTheFlashOrOffTheSectorsIsRefused) {
    DeviceHarness h(InMode(DeviceMode::FlashWriting));
    const Bytes before = h.device.ReadFlash(0, engine::kFlashSize);
    EXPECT_EQ(h.StatusOf(Erase(0x32001, 0x1000)), sim::kStatusBadRange);
    EXPECT_EQ(h.StatusOf(Erase(0x32000, 0x0FFF)), sim::kStatusBadRange);
    EXPECT_EQ(h.StatusOf(Erase(engine::kFlashSize - 0x1000, 0x2000)), sim::kStatusBadRange);
    EXPECT_EQ(h.StatusOf(Erase(engine::kFlashSize, 0x1000)), sim::kStatusBadRange);
    // address + size wraps around 32 bits
    EXPECT_EQ(h.StatusOf(Erase(0xFFFFF000u, 0x2000)), sim::kStatusBadRange);
    EXPECT_EQ(h.device.ReadFlash(0, engine::kFlashSize), before);
    EXPECT_EQ(h.StatusOf(Erase(0, engine::kFlashSize)), 0);
    EXPECT_EQ(h.device.ReadFlash(0, engine::kFlashSize), Bytes(engine::kFlashSize, 0xFF));
}

TEST(VirtualDevice, WriteStoresTheBlockAndReadGivesItBack) {
    DeviceHarness h(InMode(DeviceMode::FlashWriting));
    Bytes data(4096);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(0x80 + i * 13);
    ASSERT_EQ(h.StatusOf(Erase(0xD2000, 0x1000)), 0);
    EXPECT_EQ(h.StatusOf(WriteBlock(0xD2000, data)), 0);
    EXPECT_EQ(h.device.ReadFlash(0xD2000, 4096), data);
    const Bytes read = ReadDataOf(h.Exchange(ReadMemory(0xD2FE0, 4)));
    EXPECT_EQ(read, Bytes(data.begin() + 0xFE0, data.begin() + 0xFE4));
}

TEST(VirtualDevice, WriteWithAWrongCrcIsRefusedAndWritesNothing) {
    DeviceHarness h(InMode(DeviceMode::FlashWriting));
    ASSERT_EQ(h.StatusOf(Erase(0xD2000, 0x1000)), 0);
    Bytes block = WriteBlock(0xD2000, Bytes(64, 0x12));
    block[block.size() - 6] ^= 0x01;  // first byte of the CRC
    EXPECT_EQ(h.StatusOf(block), sim::kStatusBadCrc);
    Bytes data = WriteBlock(0xD2000, Bytes(64, 0x12));
    data[20] ^= 0x01;  // a data byte: the CRC no longer matches it
    EXPECT_EQ(h.StatusOf(data), sim::kStatusBadCrc);
    EXPECT_EQ(h.device.ReadFlash(0xD2000, 64), Bytes(64, 0xFF));
}

TEST(VirtualDevice, WriteOverUnerasedFlashIsRefusedUnlessItOnlyClearsBits) {
    DeviceHarness h(InMode(DeviceMode::FlashWriting));
    ASSERT_EQ(h.StatusOf(Erase(0xD2000, 0x1000)), 0);
    ASSERT_EQ(h.StatusOf(WriteBlock(0xD2000, Hex("F0 0F 55"))), 0);
    // The same data again: no bit has to rise, so a resent block succeeds.
    EXPECT_EQ(h.StatusOf(WriteBlock(0xD2000, Hex("F0 0F 55"))), 0);
    EXPECT_EQ(h.StatusOf(WriteBlock(0xD2000, Hex("70 0F 55"))), 0) << "clears one more bit";
    EXPECT_EQ(h.StatusOf(WriteBlock(0xD2000, Hex("70 1F 55"))), sim::kStatusNotErased);
    EXPECT_EQ(h.device.ReadFlash(0xD2000, 3), Hex("70 0F 55"));
}

TEST(VirtualDevice, WriteThatLeavesTheFlashIsRefused) {
    DeviceHarness h(InMode(DeviceMode::FlashWriting));
    ASSERT_EQ(h.StatusOf(Erase(engine::kFlashSize - 0x1000, 0x1000)), 0);
    EXPECT_EQ(h.StatusOf(WriteBlock(engine::kFlashSize - 2, Bytes(4, 0x00))), sim::kStatusBadRange);
    EXPECT_EQ(h.StatusOf(WriteBlock(0xFFFFFFFEu, Bytes(4, 0x00))), sim::kStatusBadRange);
    EXPECT_EQ(h.device.ReadFlash(engine::kFlashSize - 4, 4), Bytes(4, 0xFF));
    EXPECT_EQ(h.StatusOf(WriteBlock(engine::kFlashSize - 4, Bytes(4, 0x00))), 0);
}

TEST(VirtualDevice, ReadOutsideTheFlashOrBeyondOneReplyGetsAnErrorStatus) {
    DeviceHarness h;
    EXPECT_EQ(h.StatusOf(ReadMemory(engine::kFlashSize - 2, 4)), sim::kStatusBadRange);
    EXPECT_EQ(h.StatusOf(ReadMemory(0xFFFFFFFEu, 4)), sim::kStatusBadRange);
    EXPECT_EQ(h.StatusOf(ReadMemory(0, 16384)), sim::kStatusBadRange);
    EXPECT_EQ(ReadDataOf(h.Exchange(ReadMemory(0, 16383))), h.device.ReadFlash(0, 16383));
    EXPECT_EQ(ReadDataOf(h.Exchange(ReadMemory(engine::kFlashSize - 4, 4))),
              h.device.ReadFlash(engine::kFlashSize - 4, 4));
}

TEST(VirtualDevice, RequestsForAnotherDeviceByteAreIgnored) {
    DeviceHarness h;
    EXPECT_TRUE(h.Exchange(EnterUpdate(0x00)).empty());
    EXPECT_TRUE(h.Exchange(ReadMemory(0, 4, 0x6F)).empty());
    EXPECT_EQ(h.device.Mode(), DeviceMode::UpdateReady);
}

TEST(VirtualDevice, MalformedAndUnknownRequestsGetErrorStatuses) {
    DeviceHarness h(InMode(DeviceMode::FlashWriting));
    ASSERT_EQ(h.StatusOf(Erase(0x1000, 0x1000)), 0);
    Bytes cut = WriteBlock(0x1000, Bytes(4096, 0x00));
    cut.resize(cut.size() / 2);
    EXPECT_EQ(h.StatusOf(cut), sim::kStatusMalformed);
    EXPECT_EQ(h.StatusOf(Hex("F0 52 00 6E 0A 00 F7")), sim::kStatusMalformed);
    EXPECT_EQ(h.StatusOf(Hex("F0 52 00 6E 44 F7")), sim::kStatusUnknownCommand);
    EXPECT_TRUE(h.Exchange(Hex("F0 7E 00 06 03 F7")).empty());
    EXPECT_TRUE(h.Exchange(Hex("F0 52")).empty());
    EXPECT_TRUE(h.Exchange(Bytes{}).empty());
    EXPECT_TRUE(h.Exchange(Status(0)).empty()) << "the updater's acknowledge is no request";
    EXPECT_EQ(h.device.ReadFlash(0x1000, 0x1000), Bytes(0x1000, 0xFF));
}

// The ten rows of the plan, run by hand the way the updater runs them: afterwards every
// region holds its image and the system version is the carried one.
TEST(VirtualDevice, HandWrittenRunOfTheWholePlanLeavesTheImagesInFlash) {
    DeviceHarness h;
    ASSERT_EQ(h.StatusOf(EnterUpdate()), 0);
    const engine::FirmwareStore& images = firmware::EmbeddedFirmware();
    for (const engine::FlashPlanRow& row : engine::kFlashPlan) {
        if (row.type == engine::FlashStepType::Erase) {
            ASSERT_EQ(h.StatusOf(Erase(row.address, row.size)), 0) << std::hex << row.address;
            continue;
        }
        const auto image = images.Locate(static_cast<int>(row.resourceId));
        ASSERT_TRUE(image);
        const std::uint32_t total = row.size != 0 ? row.size : image->size;
        for (std::uint32_t offset = 0; offset < total; offset += 4096) {
            const auto n = static_cast<std::int32_t>(std::min<std::uint32_t>(4096, total - offset));
            ASSERT_EQ(h.StatusOf(WriteBlock(row.address + offset, image->data + offset, n)), 0)
                << "image " << row.resourceId << " offset " << offset;
        }
    }
    ASSERT_EQ(h.StatusOf(Finish()), 0);

    const sim::FlashState state = h.device.InspectFlash(images);
    for (const sim::RegionState& region : state.regions) {
        EXPECT_TRUE(region.holdsImage) << region.imageId;
    }
    EXPECT_EQ(sim::VersionText(state.systemVersion), "1.10");
    for (const engine::ImageRegion& region : engine::kImageRegions) {
        const auto image = images.Locate(region.imageId);
        const Bytes flash = h.device.ReadFlash(region.address, image->size);
        EXPECT_EQ(std::memcmp(flash.data(), image->data, image->size), 0) << region.imageId;
    }
}

}  // namespace
}  // namespace tq5::test
