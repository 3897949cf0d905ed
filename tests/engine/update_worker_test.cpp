#include "engine/procedures/update_worker.hpp"

#include <gtest/gtest.h>

#include "engine/procedures/flash_steps.hpp"
#include "engine_rig.hpp"
#include "firmware/memory_firmware_store.hpp"

namespace tq5::engine {
namespace {

// The device's boot version field set to the boot image's, so the boot rows are skipped.
test::GoodDevice DeviceWithCurrentBoot(const FirmwareStore& store) {
    Bytes field(4);
    EXPECT_TRUE(
        ReadImageBytes(store, kBootVersion.imageId, kBootVersion.imageOffset, 4, field.data()));
    return test::GoodDevice{{0x6E, 0x00, 0x05, 0x00}, {{kBootVersion.flashAddress, field}}};
}

test::Responder Except(RequestKind kind, std::function<std::vector<Action>(const Request&)> what) {
    return
        [kind, what](const Request& r) { return r.kind == kind ? what(r) : test::GoodDevice{}(r); };
}

TEST(UpdateWorker, BootVersionDifferingInOneByteRunsTheBootRows) {
    EngineRig rig;
    test::GoodDevice device = DeviceWithCurrentBoot(rig.firmware);
    device.memory[kBootVersion.flashAddress][3] ^= 1;
    rig.device.SetResponder(device);
    rig.RunUpdate();
    EXPECT_EQ(rig.device.Requests(RequestKind::WriteBlock).size(), 927u);
}

TEST(UpdateWorker, OtherRefusalOfUpdateModeIsTransferError) {
    EngineRig rig;
    rig.device.SetResponder(Except(RequestKind::EnterUpdate, [](const Request&) {
        return std::vector<Action>{{StatusReply(2)}};
    }));
    rig.RunUpdate();
    EXPECT_EQ(rig.host.Of("box"), std::vector<std::string>{"Error|Transfer error occurred.|error"});
    EXPECT_TRUE(rig.device.Requests(RequestKind::Erase).empty());
}

TEST(UpdateWorker, MissingBootImageSendsNoReadAndComparesNothing) {
    firmware::MemoryFirmwareStore store =
        firmware::MemoryFirmwareStore::CopyOf(firmware::EmbeddedFirmware());
    store.Remove(kImageBoot);
    EngineRig rig(store);
    rig.RunUpdate();
    EXPECT_TRUE(rig.device.Requests(RequestKind::Read).empty());
    EXPECT_TRUE(rig.device.Requests(RequestKind::Erase).empty());
    const auto events = rig.host.Events();
    EXPECT_EQ(std::vector<std::string>(events.end() - 2, events.end()),
              (std::vector<std::string>{"box:Error|Transfer error occurred.|error", "release:"}));
}

TEST(UpdateWorker, LateBlockAnswerNeverTurnsARejectionIntoSuccess) {
    EngineRig rig;
    const int wait = static_cast<int>(rig.env.timing.blockWaitMs);
    const test::GoodDevice good = DeviceWithCurrentBoot(rig.firmware);
    // Image 139, the last write, goes out as one block. Its first send is acknowledged late,
    // after the resend has left; the resend and every later send are rejected. Taken as the
    // resend's answer, the late acknowledgement would count the block as written and the
    // rejection would then be taken for the finish request's answer: "completed".
    rig.device.SetResponder([good, wait](const Request& r) -> std::vector<Action> {
        if (r.kind == RequestKind::WriteBlock && r.address == 0xD2000) {
            if (r.sendOfThis == 1) return {{StatusReply(0), wait * 3 / 2}};
            if (r.sendOfThis == 2) return {{StatusReply(1), wait * 3 / 4}};
            return {{StatusReply(1)}};
        }
        return good(r);
    });
    rig.RunUpdate();
    EXPECT_TRUE(rig.host.Of("status").back() != "Version update completed.");
    EXPECT_EQ(rig.host.Of("box"), std::vector<std::string>{"Error|Transfer error occurred.|error"});
    EXPECT_TRUE(rig.device.Requests(RequestKind::Finish).empty());
}

TEST(UpdateWorker, ClosingDuringThePauseEndsItEarly) {
    engine::Timing t = test::ShortTiming();
    t.enterPauseMs = 60000;
    EngineRig rig(firmware::EmbeddedFirmware(), t);
    rig.device.SetResponder(Except(RequestKind::EnterUpdate, [&rig](const Request&) {
        return std::vector<Action>{{StatusReply(0)}, Action::Do(30, [&rig] { rig.CloseWindow(); })};
    }));
    EXPECT_LT(rig.RunUpdate(), std::chrono::seconds(10));
    EXPECT_EQ(rig.host.After("closing"), std::vector<std::string>{});
    // Nothing follows the request the device was answering when the window closed.
    ASSERT_FALSE(rig.device.Requests().empty());
    EXPECT_EQ(rig.device.Requests().back().kind, RequestKind::EnterUpdate);
}

}  // namespace
}  // namespace tq5::engine
