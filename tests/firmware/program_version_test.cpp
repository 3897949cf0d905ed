// What --version says: the build's version in the four-number form of Updater.exe's version
// record, and the version fields of the images, whatever bytes they hold.

#include "firmware/program_version.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "firmware/memory_firmware_store.hpp"

namespace tq5::engine {
namespace {

TEST(ProgramVersion, FourNumbersAsInTheVersionRecord) {
    EXPECT_TRUE(std::regex_match(std::string(firmware::ProgramVersion()),
                                 std::regex(R"([0-9]+\.[0-9]+\.[0-9]+\.[0-9]+)")))
        << firmware::ProgramVersion();
}

// Images just long enough for their version fields, holding "2.31", "1.07" and "0.99".
firmware::MemoryFirmwareStore ImagesWithVersions() {
    firmware::MemoryFirmwareStore images;
    for (const VersionField& field : {kSystemVersion, kPresetVersion, kBootVersion}) {
        images.Set(field.imageId, std::vector<std::uint8_t>(field.imageOffset + 4, 0));
    }
    EXPECT_TRUE(images.Overwrite(kSystemVersion.imageId, kSystemVersion.imageOffset,
                                 reinterpret_cast<const std::uint8_t*>("2.31"), 4));
    EXPECT_TRUE(images.Overwrite(kPresetVersion.imageId, kPresetVersion.imageOffset,
                                 reinterpret_cast<const std::uint8_t*>("1.07"), 4));
    EXPECT_TRUE(images.Overwrite(kBootVersion.imageId, kBootVersion.imageOffset,
                                 reinterpret_cast<const std::uint8_t*>("0.99"), 4));
    return images;
}

TEST(ProgramVersion, NamesTheProgramAndTheImagesVersionFields) {
    const std::uint8_t erased[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    const std::uint8_t control[4] = {'1', '.', 0x07, '0'};
    struct Case {
        const char* what;
        std::function<void(firmware::MemoryFirmwareStore&)> change;
        bool generated;
        std::string images;  // the second line and what follows it
    };
    const Case cases[] = {
        {"real images", [](firmware::MemoryFirmwareStore&) {}, false,
         "Firmware images: system 2.31, preset 1.07, boot 0.99"},
        {"placeholders are named as such", [](firmware::MemoryFirmwareStore&) {}, true,
         "Firmware images: system 2.31, preset 1.07, boot 0.99\n"
         "The images are generated placeholders, not released TQ-5 firmware."},
        {"an erased field",
         [&](firmware::MemoryFirmwareStore& s) {
             EXPECT_TRUE(s.Overwrite(kBootVersion.imageId, kBootVersion.imageOffset, erased, 4));
         },
         false, "Firmware images: system 2.31, preset 1.07, boot *.**"},
        {"a control character",
         [&](firmware::MemoryFirmwareStore& s) {
             EXPECT_TRUE(
                 s.Overwrite(kPresetVersion.imageId, kPresetVersion.imageOffset, control, 4));
         },
         false, "Firmware images: system 2.31, preset *.**, boot 0.99"},
        {"a missing image",
         [](firmware::MemoryFirmwareStore& s) { s.Remove(kPresetVersion.imageId); }, false,
         "Firmware images: system 2.31, preset missing, boot 0.99"},
        {"an image too short for its field",
         [](firmware::MemoryFirmwareStore& s) {
             s.Set(kSystemVersion.imageId,
                   std::vector<std::uint8_t>(kSystemVersion.imageOffset + 3, '1'));
         },
         false, "Firmware images: system missing, preset 1.07, boot 0.99"},
    };
    for (const Case& c : cases) {
        firmware::MemoryFirmwareStore images = ImagesWithVersions();
        c.change(images);
        EXPECT_EQ(firmware::ProgramVersionText("tq5-devsim", images, c.generated),
                  "tq5-devsim " + std::string(firmware::ProgramVersion()) + "\n" + c.images)
            << c.what;
    }
}

}  // namespace
}  // namespace tq5::engine
