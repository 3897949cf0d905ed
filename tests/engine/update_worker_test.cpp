#include "engine/update_worker.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "engine/flash_steps.hpp"
#include "engine_rig.hpp"
#include "firmware/memory_firmware_store.hpp"

namespace tq5::engine {
namespace {

using Clock = std::chrono::steady_clock;

// What the Execute handler does, then the worker on a thread of its own; returns its run time.
Clock::duration RunUpdate(EngineRig& rig) {
    rig.host.LockControls();
    rig.context.Event().Reset();
    const auto start = Clock::now();
    std::thread worker([&] { UpdateWorker(rig.env); });
    worker.join();
    return Clock::now() - start;
}

// The device's boot version field set to the boot image's, so the boot rows are skipped.
test::GoodDevice DeviceWithCurrentBoot(const FirmwareStore& store) {
    Bytes field(4);
    ReadImageBytes(store, kBootVersion.imageId, kBootVersion.imageOffset, 4, field.data());
    return test::GoodDevice{{0x6E, 0x00, 0x05, 0x00}, {{kBootVersion.flashAddress, field}}};
}

test::Responder Except(RequestKind kind, std::function<std::vector<Action>(const Request&)> what) {
    return [kind, what](const Request& r) {
        return r.kind == kind ? what(r) : test::GoodDevice{}(r);
    };
}

// Status texts with each run of "Data transmit" lines shown as one "T".
std::vector<std::string> StatusOutline(const std::vector<std::string>& texts) {
    std::vector<std::string> out;
    for (const std::string& t : texts) {
        const std::string entry = t.rfind("Data transmit", 0) == 0 ? "T" : t;
        if (entry == "T" && !out.empty() && out.back() == "T") continue;
        out.push_back(entry);
    }
    return out;
}

void ExpectFlashHoldsImages(const EngineRig& rig, bool withBoot) {
    for (const ImageRegion& region : kImageRegions) {
        if (region.imageId == kImageBoot && !withBoot) continue;
        const ImageRef image = *rig.firmware.Locate(region.imageId);
        EXPECT_EQ(rig.device.WrittenBytes(region.address, image.size),
                  Bytes(image.data, image.data + image.size))
            << "image " << region.imageId;
    }
}

TEST(UpdateWorker, FullUpdateWritesEveryImage) {
    EngineRig rig;
    RunUpdate(rig);
    EXPECT_EQ(rig.device.Requests(RequestKind::WriteBlock).size(), 927u);
    ExpectFlashHoldsImages(rig, true);

    const std::string E = "Erasing Flash memory.";
    EXPECT_EQ(StatusOutline(rig.host.Of("status")),
              (std::vector<std::string>{E, "", E, E, "T", E, "T", E, "T", E, "T",
                                        "Version update completed."}));
    EXPECT_EQ(rig.host.Of("counter"),
              (std::vector<std::string>{"0/10", "1/10", "2/10", "3/10", "4/10", "5/10", "6/10",
                                        "7/10", "8/10", "9/10", "10/10"}));
    EXPECT_EQ(rig.host.Of("range"),
              (std::vector<std::string>{"10", "10", "4096", "10", "204800", "10", "283088", "10",
                                        "3297280", "4096"}));
    EXPECT_EQ(rig.host.Of("pos").back(), "4096");
    const auto events = rig.host.Events();
    EXPECT_EQ(std::vector<std::string>(events.end() - 3, events.end()),
              (std::vector<std::string>{"status:Version update completed.", "release:",
                                        "enable:0"}));
    EXPECT_TRUE(rig.host.Of("box").empty());
    EXPECT_FALSE(rig.context.IsBusy());
    // The updater now answers the device's identity request with the accepted id.
    const auto reply = rig.context.IdentityReply().Bytes();
    EXPECT_EQ(Bytes(reply.begin() + 6, reply.begin() + 10), (Bytes{0x6E, 0x00, 0x05, 0x00}));
}

TEST(UpdateWorker, CurrentBootVersionSkipsTheBootRows) {
    EngineRig rig;
    rig.device.SetResponder(DeviceWithCurrentBoot(rig.firmware));
    RunUpdate(rig);
    EXPECT_EQ(rig.device.Requests(RequestKind::WriteBlock).size(), 877u);
    ExpectFlashHoldsImages(rig, false);
    for (const Request& r : rig.device.Requests()) {
        EXPECT_FALSE((r.kind == RequestKind::Erase || r.kind == RequestKind::WriteBlock) &&
                     r.address == 0);
    }
    // Skipped rows still show in the counter.
    EXPECT_EQ(rig.host.Of("counter").size(), 11u);
    EXPECT_EQ(rig.host.Of("status").back(), "Version update completed.");
}

TEST(UpdateWorker, BootVersionDifferingInOneByteRunsTheBootRows) {
    EngineRig rig;
    test::GoodDevice device = DeviceWithCurrentBoot(rig.firmware);
    device.memory[kBootVersion.flashAddress][3] ^= 1;
    rig.device.SetResponder(device);
    RunUpdate(rig);
    EXPECT_EQ(rig.device.Requests(RequestKind::WriteBlock).size(), 927u);
}

TEST(UpdateWorker, DeviceNotInUpdateModeErasesNothing) {
    EngineRig rig;
    rig.device.SetResponder(Except(RequestKind::EnterUpdate, [](const Request&) {
        return std::vector<Action>{{StatusReply(11)}};
    }));
    RunUpdate(rig);
    EXPECT_TRUE(rig.device.Requests(RequestKind::Erase).empty());
    EXPECT_EQ(rig.host.Events(),
              (std::vector<std::string>{"lock:", "counter:0/10", "status:Erasing Flash memory.",
                                        "status:", "box:Error|Please use the firmware update mode.|error",
                                        "release:"}));
}

TEST(UpdateWorker, OtherRefusalOfUpdateModeIsTransferError) {
    EngineRig rig;
    rig.device.SetResponder(Except(RequestKind::EnterUpdate, [](const Request&) {
        return std::vector<Action>{{StatusReply(2)}};
    }));
    RunUpdate(rig);
    EXPECT_EQ(rig.host.Of("box"), std::vector<std::string>{"Error|Transfer error occurred.|error"});
    EXPECT_TRUE(rig.device.Requests(RequestKind::Erase).empty());
}

TEST(UpdateWorker, FinishAnsweredWithErrorStillCompletes) {
    EngineRig rig;
    rig.device.SetResponder(DeviceWithCurrentBoot(rig.firmware));
    const test::GoodDevice good = DeviceWithCurrentBoot(rig.firmware);
    rig.device.SetResponder([good](const Request& r) {
        return r.kind == RequestKind::Finish ? std::vector<Action>{{StatusReply(5)}} : good(r);
    });
    RunUpdate(rig);
    EXPECT_EQ(rig.host.Of("status").back(), "Version update completed.");
    EXPECT_TRUE(rig.host.Of("box").empty());
}

TEST(UpdateWorker, BadBootVersionReadReleasesWithoutMessage) {
    EngineRig rig;
    rig.device.SetResponder(Except(RequestKind::Read, [](const Request&) {
        return std::vector<Action>{{test::ReadReplyOf({'1', '.', '0', '0'}, true)}};
    }));
    RunUpdate(rig);
    EXPECT_TRUE(rig.host.Of("box").empty());
    EXPECT_EQ(rig.host.Events().back(), "release:");
    EXPECT_TRUE(rig.device.Requests(RequestKind::Erase).empty());
}

TEST(UpdateWorker, MissingBootImageSendsNoReadAndComparesNothing) {
    MemoryFirmwareStore store = MemoryFirmwareStore::CopyOf(EmbeddedFirmware());
    store.Remove(kImageBoot);
    EngineRig rig(store);
    RunUpdate(rig);
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
    RunUpdate(rig);
    EXPECT_TRUE(rig.host.Of("status").back() != "Version update completed.");
    EXPECT_EQ(rig.host.Of("box"), std::vector<std::string>{"Error|Transfer error occurred.|error"});
    EXPECT_TRUE(rig.device.Requests(RequestKind::Finish).empty());
}

// --- a device that never answers one kind of request ---------------------------------------

struct SilenceCase {
    RequestKind kind;
    const char* box;  // nullptr: no message
};

class SilentDevice : public ::testing::TestWithParam<SilenceCase> {};

TEST_P(SilentDevice, EndsWithTheStepsMessageAndReleases) {
    engine::Timing t = test::ShortTiming();
    t.blockWaitMs = 20;
    EngineRig rig(EmbeddedFirmware(), t);
    const test::GoodDevice good = DeviceWithCurrentBoot(rig.firmware);
    const RequestKind silent = GetParam().kind;
    rig.device.SetResponder([good, silent](const Request& r) {
        return r.kind == silent ? std::vector<Action>{} : good(r);
    });
    RunUpdate(rig);
    const std::vector<std::string> boxes = rig.host.Of("box");
    if (GetParam().box != nullptr) {
        EXPECT_EQ(boxes, std::vector<std::string>{std::string("Error|") + GetParam().box + "|error"});
    } else {
        EXPECT_TRUE(boxes.empty());
    }
    EXPECT_EQ(rig.host.Events().back(), "release:");
    EXPECT_TRUE(rig.host.Of("enable").empty());
    EXPECT_FALSE(rig.context.IsBusy());
}

INSTANTIATE_TEST_SUITE_P(
    EachRequest, SilentDevice,
    ::testing::Values(SilenceCase{RequestKind::Identity, "Time out error(1)"},
                      SilenceCase{RequestKind::EnterUpdate, "Time out error(1)"},
                      SilenceCase{RequestKind::Read, nullptr},
                      SilenceCase{RequestKind::Erase, "Time out error(3)"},
                      SilenceCase{RequestKind::WriteBlock, "Time out error(2)"},
                      SilenceCase{RequestKind::Finish, "Transfer error occurred."}));

// --- the window closing during each wait ---------------------------------------------------

class ClosingWindow : public ::testing::TestWithParam<RequestKind> {};

TEST_P(ClosingWindow, EndsAtOnceTouchingNothing) {
    engine::Timing t;  // the product's waits: the closing must end them, not a time-out
    t.enterPauseMs = 5;
    EngineRig rig(EmbeddedFirmware(), t);
    const test::GoodDevice good = DeviceWithCurrentBoot(rig.firmware);
    const RequestKind kind = GetParam();
    rig.device.SetResponder([&rig, good, kind](const Request& r) {
        if (r.kind != kind) return good(r);
        return std::vector<Action>{Action::Do(20, [&rig] { rig.CloseWindow(); })};
    });
    EXPECT_LT(RunUpdate(rig), std::chrono::seconds(10));
    EXPECT_EQ(rig.host.After("closing"), std::vector<std::string>{});
    EXPECT_FALSE(rig.host.Of("mark").empty());
    EXPECT_TRUE(rig.host.Of("box").empty());
    EXPECT_TRUE(rig.context.IsBusy());  // nobody released the controls
}

INSTANTIATE_TEST_SUITE_P(EachWait, ClosingWindow,
                         ::testing::Values(RequestKind::Identity, RequestKind::EnterUpdate,
                                           RequestKind::Read, RequestKind::Erase,
                                           RequestKind::WriteBlock, RequestKind::Finish));

}  // namespace
}  // namespace tq5::engine
