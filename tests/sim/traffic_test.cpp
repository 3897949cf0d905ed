// What the virtual TQ-5 sends unasked, what it records of the updater's answers, its
// transcript and its flash report.

#include <gtest/gtest.h>

#include <mutex>

#include "device_harness.hpp"
#include "firmware/embedded_firmware.hpp"

namespace tq5::test {
namespace {

using sim::UnsolicitedMessage;

TEST(DeviceTraffic, UnsolicitedMessagesGoOutAsTheUpdaterClassifiesThem) {
    const std::vector<std::pair<UnsolicitedMessage, protocol::MessageClass>> cases = {
        {UnsolicitedMessage::IdentityRequest, protocol::MessageClass::IdentityRequest},
        {UnsolicitedMessage::Command01, protocol::MessageClass::DeviceCommand},
        {UnsolicitedMessage::Command04, protocol::MessageClass::DeviceCommand},
        {UnsolicitedMessage::Command05, protocol::MessageClass::DeviceCommand},
        {UnsolicitedMessage::Command03, protocol::MessageClass::Ignored},
        {UnsolicitedMessage::UnknownCommand, protocol::MessageClass::UnknownCommand},
        {UnsolicitedMessage::UnknownUniversal, protocol::MessageClass::UnknownUniversal},
    };
    DeviceHarness h;
    for (const auto& [message, expected] : cases) {
        h.device.SendUnsolicited(message);
        h.device.WaitIdle();
        const std::vector<Bytes> sent = h.replies.Take();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(protocol::ClassifyMessage(sent[0].data(), sent[0].size()).kind, expected);
    }
}

TEST(DeviceTraffic, RecordsTheUpdatersAnswersInOrder) {
    DeviceHarness h;
    const Bytes ownReply = Hex("F0 7E 00 06 02 52 00 00 00 00 31 30 30 30 F7");
    for (const Bytes& answer : {Status(0), ownReply, Status(1, 0x00)}) {
        EXPECT_TRUE(h.Exchange(answer).empty()) << "answers are not answered";
    }
    EXPECT_TRUE(h.device.WaitForUpdaterAnswers(3, std::chrono::milliseconds(0)));
    EXPECT_EQ(h.device.UpdaterAnswers(),
              (std::vector<Bytes>{Status(0), ownReply, Status(1, 0x00)}));
    EXPECT_FALSE(h.device.WaitForUpdaterAnswers(4, std::chrono::milliseconds(20)));
}

TEST(DeviceTraffic, WaitForUpdaterAnswersWakesWhenTheAnswerArrives) {
    DeviceHarness h;
    // The far end answers every unsolicited command with an acknowledge, from the sink.
    h.device.SetReplySink([&](const std::uint8_t*, std::size_t) {
        const Bytes ack = Status(0);
        h.device.Receive(ack.data(), ack.size());
    });
    h.device.SendUnsolicited(UnsolicitedMessage::Command05);
    EXPECT_TRUE(h.device.WaitForUpdaterAnswers(1, std::chrono::seconds(10)));
}

TEST(DeviceTraffic, SendRawSendsAnyBytes) {
    DeviceHarness h;
    h.device.SendRaw(Hex("F0 52 00 6E 00"));
    h.device.WaitIdle();
    EXPECT_EQ(h.replies.Take(), std::vector<Bytes>{Hex("F0 52 00 6E 00")});
}

TEST(DeviceTraffic, TranscriptHoldsBothDirectionsWithNotesInTimeOrder) {
    sim::DeviceOptions options;
    sim::Fault drop;
    drop.on = sim::RequestType::ReadMemory;
    drop.action = sim::FaultAction::DropReply;
    options.faults = {drop};
    DeviceHarness h(options);
    h.Exchange(IdentityRequest());
    h.Exchange(ReadMemory(0x31FFC, 4));
    h.Exchange(EnterUpdate(0x00));
    const std::vector<sim::TranscriptEntry> t = h.device.Transcript();
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].direction, sim::Direction::ToDevice);
    EXPECT_EQ(t[0].bytes, IdentityRequest());
    EXPECT_EQ(t[1].direction, sim::Direction::FromDevice);
    EXPECT_EQ(t[2].note, "drop reply");
    EXPECT_EQ(t[3].note, "not for this device");
    for (std::size_t i = 1; i < t.size(); ++i) EXPECT_GE(t[i].at, t[i - 1].at);
    h.device.ClearTranscript();
    EXPECT_TRUE(h.device.Transcript().empty());
}

TEST(DeviceTraffic, TranscriptKeepsOnlyTheNewestEntriesBeyondItsLimit) {
    sim::DeviceOptions options;
    options.transcriptLimit = 3;
    DeviceHarness h(options);
    for (std::uint32_t i = 0; i < 4; ++i) h.Exchange(ReadMemory(i, 4));
    const std::vector<sim::TranscriptEntry> t = h.device.Transcript();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].direction, sim::Direction::FromDevice);
    EXPECT_EQ(t[1].bytes, ReadMemory(3, 4));
}

TEST(DeviceTraffic, ObserverSeesEveryEntryOnTheDeviceThread) {
    DeviceHarness h;
    std::mutex lock;
    std::vector<std::string> lines;
    h.device.SetTranscriptObserver([&](const sim::TranscriptEntry& e) {
        std::lock_guard guard(lock);
        lines.push_back(sim::FormatEntry(e));
    });
    h.Exchange(Erase(0xD2000, 0x1000));
    h.Exchange(WriteBlock(0x32000, Bytes(4096, 0)));
    h.device.SetTranscriptObserver(nullptr);
    h.Exchange(ReadMemory(0x31FFC, 4));
    std::lock_guard guard(lock);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("updater -> device  EraseRequest 0x0D2000 size 0x001000"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("device -> updater  StatusMessage 6"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("WriteBlockRequest 0x032000 n=4096"), std::string::npos) << lines[2];
}

TEST(DeviceTraffic, DescribeNamesEachMessage) {
    const auto describe = [](const Bytes& m, sim::Direction d) {
        return sim::DescribeMessage(m.data(), m.size(), d);
    };
    EXPECT_EQ(describe(ReadMemory(0x31FFC, 4), sim::Direction::ToDevice),
              "ReadMemoryRequest 0x031FFC n=4");
    EXPECT_EQ(describe(Finish(), sim::Direction::ToDevice), "FinishRequest");
    EXPECT_EQ(describe(Hex("F0 52 00"), sim::Direction::ToDevice), "malformed (3 bytes)");
    EXPECT_EQ(
        describe(Hex("F0 7E 00 06 02 52 6E 00 07 00 31 30 30 30 F7"), sim::Direction::FromDevice),
        "IdentityReply 6E 00 07 00");
    EXPECT_EQ(describe(Hex("F0 52 00 6E 60 04 30 00 00 04 00 28 10 00 7F 7F 48 4C 4B 51 0E F7"),
                       sim::Direction::FromDevice),
              "ReadMemoryReply n=4");
    EXPECT_EQ(describe(Hex("F0 41 10 42 12 40 00 7F 00 41 F7"), sim::Direction::FromDevice),
              "other: F0 41 10 42 12 40 00 7F ...");
}

TEST(DeviceTraffic, FlashReportShowsVersionsAndRegions) {
    DeviceHarness h;
    const std::string report =
        sim::FormatFlashState(h.device.InspectFlash(firmware::EmbeddedFirmware()));
    EXPECT_NE(report.find("boot version:   1.00\n"), std::string::npos) << report;
    EXPECT_NE(report.find("system version: 1.05\n"), std::string::npos) << report;
    EXPECT_NE(report.find("region of image 139 at 0x0D2000, 0x001000 bytes: CRC 0x"),
              std::string::npos);
    EXPECT_NE(report.find("differs from its image"), std::string::npos);
    EXPECT_NE(report.find("region of image 136 at 0x0DB000, 0x325000 bytes"), std::string::npos);

    sim::InstalledFirmware nothing;
    nothing.erased = true;
    h.device.InstallFirmware(nothing);
    const sim::FlashState erased = h.device.InspectFlash(firmware::EmbeddedFirmware());
    EXPECT_EQ(sim::VersionText(erased.systemVersion), "FF FF FF FF");
    EXPECT_NE(sim::FormatFlashState(erased).find("bytes: CRC 0x"), std::string::npos);
    for (const sim::RegionState& r : erased.regions) EXPECT_TRUE(r.erased);
}

}  // namespace
}  // namespace tq5::test
