// The version check against the virtual TQ-5.

#include <gtest/gtest.h>

#include "device_rig.hpp"
#include "firmware/memory_firmware_store.hpp"

namespace tq5::engine {
namespace {

using sim::DeviceOptions;
using sim::RequestType;
using test::DeviceRig;

DeviceOptions Installed(const FirmwareStore& images, std::string system) {
    DeviceOptions o;
    o.firmware.images = &images;
    o.firmware.systemVersion = std::move(system);
    return o;
}

std::string Report(const std::string& text) {
    return "Version Information|" + text + "|information";
}

class DeviceVersionCheck : public ::testing::Test {
protected:
    firmware::MemoryFirmwareStore images = test::CarriedImages();
};

TEST_F(DeviceVersionCheck, OlderSystemIsShownBesideTheCarriedOne) {
    DeviceRig rig(Installed(images, "1.05"), images);
    EXPECT_EQ(rig.RunVersionCheck(), 0);
    EXPECT_EQ(rig.host.Of("box"), std::vector<std::string>{Report(
                                      "SYSTEM:\t\t1.05 -> 1.10\nPRESET:\t\t1.00\nBOOT:\t\t1.00")});
    EXPECT_EQ(rig.device.RequestCount(RequestType::ReadMemory), 3u);
    EXPECT_EQ(rig.device.RequestCount(RequestType::EnterUpdate), 0u);  // changes nothing
    EXPECT_EQ(rig.host.Events().back(), "release:");
}

TEST_F(DeviceVersionCheck, ErasedFlashShowsStars) {
    DeviceOptions erased;
    erased.firmware.erased = true;
    DeviceRig rig(erased, images);
    EXPECT_EQ(rig.RunVersionCheck(), 0);
    EXPECT_EQ(rig.host.Of("box"),
              std::vector<std::string>{Report(
                  "SYSTEM:\t\t*.** -> 1.10\nPRESET:\t\t*.** -> 1.00\nBOOT:\t\t*.** -> 1.00")});
}

}  // namespace
}  // namespace tq5::engine
