#include "engine/procedures/identify_device.hpp"

#include <gtest/gtest.h>

#include "engine_rig.hpp"

namespace tq5::engine {
namespace {

const std::string kErrorBox = "Error|";

TEST(IdentifyDevice, AcceptsBothKnownIdsQuietly) {
    for (const DeviceId id : {DeviceId{0x6E, 0x00, 0x05, 0x00}, DeviceId{0x6E, 0x00, 0x07, 0x00}}) {
        EngineRig rig;
        rig.device.SetResponder(test::GoodDevice{id});
        EXPECT_EQ(Ended(rig.env, IdentifyDevice(rig.env)), 0);
        EXPECT_TRUE(rig.host.Events().empty());
        EXPECT_EQ(rig.context.CurrentDeviceId(), id);
    }
}

TEST(IdentifyDevice, UnknownIdIsRejectedButStaysCurrent) {
    EngineRig rig;
    rig.device.SetResponder(test::GoodDevice{{0x6E, 0x00, 0x06, 0x00}});
    EXPECT_EQ(Ended(rig.env, IdentifyDevice(rig.env)), -1);
    EXPECT_EQ(rig.host.Events(),
              (std::vector<std::string>{"box:Error|Illegal device connected.|error", "release:"}));
    EXPECT_EQ(rig.context.CurrentDeviceId(), (DeviceId{0x6E, 0x00, 0x06, 0x00}));
}

TEST(IdentifyDevice, StatusReplyInsteadOfIdentityIsIllegalDevice) {
    EngineRig rig;
    rig.context.SetReportedDeviceId({0x6E, 0x00, 0x05, 0x00});
    rig.device.SetResponder(
        [](const Request&) { return std::vector<Action>{{test::StatusReply(3)}}; });
    EXPECT_EQ(Ended(rig.env, IdentifyDevice(rig.env)), -1);
    EXPECT_EQ(rig.host.Of("box"),
              std::vector<std::string>{"Error|Illegal device connected.|error"});
    // The reported id is not looked at.
    EXPECT_EQ(rig.context.CurrentDeviceId(), (DeviceId{0, 0, 0, 0}));
}

TEST(IdentifyDevice, NoAnswerIsOneTimeOut) {
    EngineRig rig;
    rig.device.SetResponder([](const Request&) { return std::vector<Action>{}; });
    EXPECT_EQ(Ended(rig.env, IdentifyDevice(rig.env)), -1);
    EXPECT_EQ(rig.host.Events(),
              (std::vector<std::string>{"box:Error|Time out error(1)|error", "release:"}));
    EXPECT_EQ(rig.device.Requests().size(), 1u);
}

TEST(IdentifyDevice, AnswerLeftOverFromBeforeIsNotTaken) {
    EngineRig rig;
    // An identity reply that arrived before this request left a pending signal.
    rig.context.SetReportedDeviceId({0x6E, 0x00, 0x05, 0x00});
    rig.context.Await(Answer::Identity);
    ASSERT_TRUE(rig.context.PostReply({ReplyKind::Identity}));
    rig.device.SetResponder([](const Request&) { return std::vector<Action>{}; });
    EXPECT_EQ(Ended(rig.env, IdentifyDevice(rig.env)), -1);
    EXPECT_EQ(rig.host.Of("box"), std::vector<std::string>{"Error|Time out error(1)|error"});
}

TEST(IdentifyDevice, FailedSendReportsOutputAndDoesNotWait) {
    engine::Timing slow = test::ShortTiming();
    slow.replyWaitMs = 20000;
    EngineRig rig(firmware::EmbeddedFirmware(), slow);
    rig.device.failSends = true;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Ended(rig.env, IdentifyDevice(rig.env)), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(rig.host.Events(), (std::vector<std::string>{
                                     "box:Error|Can't open MIDI Out device.|error", "release:"}));
}

TEST(IdentifyDevice, ClosingWindowEndsQuietly) {
    engine::Timing slow = test::ShortTiming();
    slow.replyWaitMs = 20000;
    EngineRig rig(firmware::EmbeddedFirmware(), slow);
    rig.device.SetResponder([&](const Request&) {
        return std::vector<Action>{Action::Do(20, [&] { rig.CloseWindow(); })};
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Ended(rig.env, IdentifyDevice(rig.env)), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(rig.host.Events(), std::vector<std::string>{"mark:closing"});
}

}  // namespace
}  // namespace tq5::engine
