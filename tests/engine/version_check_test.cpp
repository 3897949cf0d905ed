#include "engine/procedures/version_check.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "engine/procedures/open_ports.hpp"
#include "engine_rig.hpp"
#include "firmware/memory_firmware_store.hpp"

namespace tq5::engine {
namespace {

Bytes Text(const char* four) { return Bytes(four, four + 4); }

test::GoodDevice Device(Bytes system, Bytes preset, Bytes boot) {
    return test::GoodDevice{{0x6E, 0x00, 0x05, 0x00},
                            {{kSystemVersion.flashAddress, std::move(system)},
                             {kPresetVersion.flashAddress, std::move(preset)},
                             {kBootVersion.flashAddress, std::move(boot)}}};
}

// Makes the read of `address` fail by a bad CRC.
test::Responder FailingRead(test::GoodDevice device, std::uint32_t address) {
    return [device, address](const Request& r) {
        if (r.kind == RequestKind::Read && r.address == address) {
            return std::vector<Action>{{test::ReadReplyOf({'9', '.', '9', '9'}, true)}};
        }
        return device(r);
    };
}

class VersionCheck : public ::testing::Test {
protected:
    std::int32_t Check() {
        const std::int32_t result = rig.RunVersionCheck();
        EXPECT_NE(result, 99) << "nothing posted";
        return result;
    }
    std::vector<std::string> Reports() const {
        std::vector<std::string> out;
        for (const std::string& box : rig.host.Of("box")) {
            if (box.rfind("Version Information|", 0) == 0) out.push_back(box);
        }
        return out;
    }

    firmware::MemoryFirmwareStore store = test::CarriedImages();
    EngineRig rig{store};
};

TEST_F(VersionCheck, ReportsDeviceBesideImages) {
    rig.device.SetResponder(Device(Text("1.05"), Text("1.00"), Text("1.00")));
    EXPECT_EQ(Check(), 0);
    EXPECT_EQ(Reports(), std::vector<std::string>{
                             "Version Information|SYSTEM:\t\t1.05 -> 1.10\nPRESET:\t\t1.00\n"
                             "BOOT:\t\t1.00|information"});
    // Reads in the order system, preset, boot; then the ports close; then the report.
    const auto reads = rig.device.Requests(RequestKind::Read);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].address, kSystemVersion.flashAddress);
    EXPECT_EQ(reads[1].address, kPresetVersion.flashAddress);
    EXPECT_EQ(reads[2].address, kBootVersion.flashAddress);
    const auto calls = rig.ports.Calls();
    EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
              (std::vector<std::string>{"close-out", "close-in"}));
    EXPECT_EQ(rig.host.Events().back(), "release:");
    EXPECT_FALSE(rig.context.IsBusy());
}

TEST_F(VersionCheck, FailedPresetReadKeepsTheLastPresetTexts) {
    rig.device.SetResponder(
        FailingRead(Device(Text("1.05"), Text("0.90"), Text("1.00")), kPresetVersion.flashAddress));
    EXPECT_EQ(Check(), 0);  // first check: nothing to keep
    rig.device.SetResponder(Device(Text("1.05"), Text("0.90"), Text("1.00")));
    EXPECT_EQ(Check(), 0);
    rig.device.SetResponder(
        FailingRead(Device(Text("1.10"), Text("0.95"), Text("1.00")), kPresetVersion.flashAddress));
    EXPECT_EQ(Check(), 0);
    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0],
              "Version Information|SYSTEM:\t\t1.05 -> 1.10\nPRESET:\t\t\n"
              "BOOT:\t\t1.00|information");
    EXPECT_EQ(reports[2],
              "Version Information|SYSTEM:\t\t1.10 -> 1.10\nPRESET:\t\t0.90 -> "
              "1.00\nBOOT:\t\t1.00|information");
}

TEST_F(VersionCheck, FailedSystemOrBootReadGivesNoReport) {
    for (const std::uint32_t address : {kSystemVersion.flashAddress, kBootVersion.flashAddress}) {
        rig.device.SetResponder(
            FailingRead(Device(Text("1.07"), Text("1.00"), Text("1.00")), address));
        EXPECT_EQ(Check(), -1);
        EXPECT_TRUE(Reports().empty());
        EXPECT_FALSE(rig.context.IsBusy());
        EXPECT_EQ(rig.ports.Calls().back(), "close-in");
    }
    // The system slot read before the boot failure keeps its new value.
    EXPECT_EQ(rig.versions.Get(VersionSource::Device, VersionSlot::System), "1.07");
    EXPECT_TRUE(rig.host.Of("box").empty());
}

TEST_F(VersionCheck, MissingImagesLeaveTheirTextsEmpty) {
    store.Remove(kImageSystem);
    store.Remove(kImagePreset);
    rig.device.SetResponder(Device(Text("1.05"), Text("1.00"), Text("1.00")));
    EXPECT_EQ(Check(), 0);
    EXPECT_EQ(Reports(),
              std::vector<std::string>{"Version Information|SYSTEM:\t\t1.05 -> \nPRESET:\t\t1.00\n"
                                       "BOOT:\t\t1.00|information"});
}

TEST_F(VersionCheck, FailedIdentificationStillClosesAndPosts) {
    rig.device.SetResponder(test::GoodDevice{{0x6E, 0x00, 0x06, 0x00}});
    EXPECT_EQ(Check(), -1);
    EXPECT_EQ(rig.host.Of("box"),
              std::vector<std::string>{"Error|Illegal device connected.|error"});
    EXPECT_EQ(rig.ports.Calls().back(), "close-in");
    EXPECT_TRUE(rig.device.Requests(RequestKind::Read).empty());
}

TEST_F(VersionCheck, LateWorkerLeavesANewerProceduresPortsAndControlsAlone) {
    // Identification fails and releases the controls; before the worker ends, the user has
    // started a new procedure that reopened the ports.
    rig.device.SetResponder([this](const Request& r) {
        if (r.kind != RequestKind::Identity) return test::GoodDevice{}(r);
        return std::vector<Action>{Action::Do(0,
                                              [this] {
                                                  static_cast<void>(rig.session.ReopenOutput(4));
                                                  static_cast<void>(rig.session.ReopenInput(5));
                                              }),
                                   {test::IdentityReplyOf({0x6E, 0x00, 0x06, 0x00})}};
    });
    rig.RunVersionCheck();
    EXPECT_EQ(rig.ports.Calls().back(), "open-in");
    // The controls belong to the newer procedure now: the early release stays the only one.
    EXPECT_TRUE(rig.host.Of("post").empty());
    EXPECT_EQ(rig.host.Of("release").size(), 1u);
}

TEST_F(VersionCheck, ClosingWindowGetsNoPostAndNoPortCall) {
    for (const std::uint32_t address :
         {kSystemVersion.flashAddress, kPresetVersion.flashAddress, kBootVersion.flashAddress}) {
        firmware::MemoryFirmwareStore images = test::CarriedImages();
        engine::Timing product;
        EngineRig window(images, product);
        const test::GoodDevice good = Device(Text("1.05"), Text("1.00"), Text("1.00"));
        window.device.SetResponder([&window, good, address](const Request& r) {
            if (r.kind == RequestKind::Read && r.address == address) {
                return std::vector<Action>{Action::Do(20, [&window] { window.CloseWindow(); })};
            }
            return good(r);
        });
        ASSERT_TRUE(OpenSelectedPorts(window.env));
        const auto portCalls = window.ports.Calls().size();
        window.host.LockControls();
        const auto start = std::chrono::steady_clock::now();
        VersionCheckThread(window.env, window.session.Generation());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(window.host.After("closing"), std::vector<std::string>{});
        EXPECT_EQ(window.ports.Calls().size(), portCalls);
    }
}

// --- pieces ----------------------------------------------------------------------------------

TEST(SanitizeVersion, KeepsPrintableAndReplacesEverythingElse) {
    const auto sanitized = [](std::array<std::uint8_t, 4> in) {
        VersionBuffer b{in[0], in[1], in[2], in[3], 0};
        SanitizeVersion(b);
        return std::string(reinterpret_cast<const char*>(b.data()));
    };
    EXPECT_EQ(sanitized({'1', '.', '1', '0'}), "1.10");
    EXPECT_EQ(sanitized({0x20, 0x7E, 0x20, 0x7E}), " ~ ~");
    for (const std::uint8_t bad : {0x00, 0x1F, 0x7F, 0x80, 0xFF}) {
        EXPECT_EQ(sanitized({'1', '.', bad, '0'}), "*.**") << int(bad);
    }
}

TEST(VersionReport, ArrowOnlyWhereImageTextDiffers) {
    VersionStrings v;
    v.Set(VersionSource::Device, VersionSlot::System, "1.10");
    v.Set(VersionSource::Image, VersionSlot::System, "1.10");
    v.Set(VersionSource::Device, VersionSlot::Preset, "1.00");
    v.Set(VersionSource::Image, VersionSlot::Preset, "1.0");
    v.Set(VersionSource::Device, VersionSlot::Boot, "1.00");
    EXPECT_EQ(VersionReportText(v),
              "SYSTEM:\t\t1.10 -> 1.10\nPRESET:\t\t1.00 -> 1.0\nBOOT:\t\t1.00");
}

TEST(VersionReport, FailedCheckOnlyReleases) {
    test::RecordingHost host;
    VersionStrings v;
    OnVersionCheckDone(host, v, false);
    EXPECT_EQ(host.Events(), std::vector<std::string>{"release:"});
}

}  // namespace
}  // namespace tq5::engine
