// Faults the virtual TQ-5 commits on purpose, scripted by request type and ordinal or drawn
// from a seed, each seen the way the updater would see it.

#include <gtest/gtest.h>

#include "device_harness.hpp"
#include "protocol/codec.hpp"
#include "sim/device_status.hpp"

namespace tq5::test {
namespace {

using sim::FaultAction;
using sim::RequestType;

sim::Fault Make(RequestType on, std::uint32_t ordinal, FaultAction action) {
    sim::Fault f;
    f.on = on;
    f.ordinal = ordinal;
    f.action = action;
    return f;
}

sim::DeviceOptions Writing() {
    sim::DeviceOptions options;
    options.mode = sim::DeviceMode::FlashWriting;
    return options;
}

protocol::MessageClass ClassOf(const Bytes& m) {
    return protocol::ClassifyMessage(m.data(), m.size()).kind;
}

TEST(DeviceFaults, DropReplyHitsOnlyTheNamedOrdinalAndStillCarriesOutTheRequest) {
    DeviceHarness h(Writing());
    h.device.AddFault(Make(RequestType::WriteBlock, 3, FaultAction::DropReply));
    ASSERT_EQ(h.StatusOf(Erase(0xD2000, 0x1000)), 0);
    EXPECT_EQ(h.StatusOf(WriteBlock(0xD2000, Bytes(16, 0x01))), 0);
    EXPECT_EQ(h.StatusOf(WriteBlock(0xD2010, Bytes(16, 0x02))), 0);
    EXPECT_TRUE(h.Exchange(WriteBlock(0xD2020, Bytes(16, 0x03))).empty());
    EXPECT_EQ(h.device.ReadFlash(0xD2020, 16), Bytes(16, 0x03)) << "written, only the reply lost";
    // The updater resends the block after its time-out: same data, so it succeeds.
    EXPECT_EQ(h.StatusOf(WriteBlock(0xD2020, Bytes(16, 0x03))), 0);
    EXPECT_EQ(h.device.RequestCount(RequestType::WriteBlock), 4u);
}

TEST(DeviceFaults, CountCoversARunOfRequestsAndOrdinalZeroEveryOne) {
    DeviceHarness h(Writing());
    sim::Fault run = Make(RequestType::Erase, 2, FaultAction::AnswerStatus);
    run.count = 3;
    run.status = 9;
    h.device.AddFault(run);
    std::vector<int> statuses;
    for (int i = 0; i < 6; ++i) statuses.push_back(h.StatusOf(Erase(0xD2000, 0x1000)));
    EXPECT_EQ(statuses, (std::vector<int>{0, 9, 9, 9, 0, 0}));

    h.device.ClearFaults();
    h.device.AddFault(Make(RequestType::ReadMemory, 0, FaultAction::DropReply));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(h.Exchange(ReadMemory(0, 4)).empty());
    EXPECT_EQ(h.StatusOf(Erase(0xD2000, 0x1000)), 0) << "other types unaffected";
}

TEST(DeviceFaults, AnswerStatusRefusesWithoutCarryingOut) {
    DeviceHarness h;  // update-ready
    sim::Fault fault = Make(RequestType::EnterUpdate, 1, FaultAction::AnswerStatus);
    fault.status = sim::kStatusNotInUpdateMode;
    h.device.AddFault(fault);
    EXPECT_EQ(h.StatusOf(EnterUpdate()), 11);
    EXPECT_EQ(h.device.Mode(), sim::DeviceMode::UpdateReady);
    EXPECT_EQ(h.StatusOf(EnterUpdate()), 0);

    sim::Fault erase = Make(RequestType::Erase, 1, FaultAction::AnswerStatus);
    erase.status = 7;
    h.device.AddFault(erase);
    const Bytes before = h.device.ReadFlash(0x32000, 0x1000);
    EXPECT_EQ(h.StatusOf(Erase(0x32000, 0x1000)), 7);
    EXPECT_EQ(h.device.ReadFlash(0x32000, 0x1000), before);
}

TEST(DeviceFaults, AnswerStatusInsteadOfAReadReplyOrAnIdentityReply) {
    DeviceHarness h;
    sim::Fault read = Make(RequestType::ReadMemory, 1, FaultAction::AnswerStatus);
    read.status = 1;
    h.device.AddFault(read);
    h.device.AddFault(Make(RequestType::IdentityRequest, 1, FaultAction::AnswerStatus));
    EXPECT_EQ(h.StatusOf(ReadMemory(0x31FFC, 4)), 1);
    EXPECT_EQ(h.StatusOf(IdentityRequest()), 1);
}

TEST(DeviceFaults, CorruptReadCrcFailsTheUpdatersCheckButKeepsTheData) {
    DeviceHarness h;
    h.device.AddFault(Make(RequestType::ReadMemory, 1, FaultAction::CorruptReadCrc));
    const std::vector<Bytes> replies = h.Exchange(ReadMemory(0x31FFC, 4));
    ASSERT_EQ(replies.size(), 1u);
    const protocol::ClassifiedMessage c =
        protocol::ClassifyMessage(replies[0].data(), replies[0].size());
    ASSERT_EQ(c.kind, protocol::MessageClass::ReadMemoryReply);
    Bytes data(4);
    protocol::UnpackPayload(data.data(), c.packed, c.packedCount);
    EXPECT_EQ(data, h.device.ReadFlash(0x31FFC, 4));
    EXPECT_NE(c.crc, protocol::ComputeCrc32(data.data(), 4));
    for (std::size_t i = 1; i + 1 < replies[0].size(); ++i) EXPECT_LT(replies[0][i], 0x80);
}

TEST(DeviceFaults, DuplicateReplySendsTheSameReplyTwice) {
    DeviceHarness h(Writing());
    h.device.AddFault(Make(RequestType::Erase, 1, FaultAction::DuplicateReply));
    const std::vector<Bytes> replies = h.Exchange(Erase(0xD2000, 0x1000));
    EXPECT_EQ(replies, (std::vector<Bytes>{Status(0), Status(0)}));
}

TEST(DeviceFaults, StrayMessageGoesOutBeforeTheReply) {
    DeviceHarness h(Writing());
    h.device.AddFault(Make(RequestType::Erase, 1, FaultAction::SendStray));
    sim::Fault custom = Make(RequestType::Erase, 2, FaultAction::SendStray);
    custom.stray = Status(0);  // an acknowledge nobody asked for
    h.device.AddFault(custom);
    EXPECT_EQ(h.Exchange(Erase(0xD2000, 0x1000)),
              (std::vector<Bytes>{Hex("F0 52 00 6E 03 F7"), Status(0)}));
    EXPECT_EQ(h.Exchange(Erase(0xD2000, 0x1000)), (std::vector<Bytes>{Status(0), Status(0)}));
}

TEST(DeviceFaults, TruncatedReplyIsCutShortWithoutItsEnd) {
    DeviceHarness h;
    h.device.AddFault(Make(RequestType::ReadMemory, 1, FaultAction::SendTruncated));
    sim::Fault exact = Make(RequestType::ReadMemory, 2, FaultAction::SendTruncated);
    exact.truncateTo = 12;
    h.device.AddFault(exact);
    std::vector<Bytes> replies = h.Exchange(ReadMemory(0x31FFC, 4));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].size(), 11u);
    EXPECT_EQ(ClassOf(replies[0]), protocol::MessageClass::ReadReplyFailed);
    replies = h.Exchange(ReadMemory(0x31FFC, 4));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].size(), 12u);
    EXPECT_NE(replies[0].back(), 0xF7);
}

TEST(DeviceFaults, AnswerOtherIdOnlyForIdentification) {
    DeviceHarness h;
    sim::Fault other = Make(RequestType::IdentityRequest, 1, FaultAction::AnswerOtherId);
    other.otherId = {0x6E, 0x00, 0x06, 0x00};
    h.device.AddFault(other);
    h.device.AddFault(Make(RequestType::ReadMemory, 1, FaultAction::AnswerOtherId));
    std::vector<Bytes> replies = h.Exchange(IdentityRequest());
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(protocol::ClassifyMessage(replies[0].data(), replies[0].size()).deviceId,
              (protocol::DeviceId{0x6E, 0x00, 0x06, 0x00}));
    replies = h.Exchange(ReadMemory(0, 4));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(ClassOf(replies[0]), protocol::MessageClass::ReadMemoryReply);
    EXPECT_EQ(h.device.Id(), (protocol::DeviceId{0x6E, 0x00, 0x05, 0x00}));
}

TEST(DeviceFaults, DelayReplyHoldsTheReplyBack) {
    DeviceHarness h;
    sim::Fault delay = Make(RequestType::IdentityRequest, 1, FaultAction::DelayReply);
    delay.delayMs = 150;
    h.device.AddFault(delay);
    const auto sent = std::chrono::steady_clock::now();
    const Bytes request = IdentityRequest();
    h.device.Receive(request.data(), request.size());
    ASSERT_EQ(h.replies.WaitFor(1).size(), 1u);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(150));
}

TEST(DeviceFaults, FaultsCountOnlyRequestsForThisDevice) {
    DeviceHarness h(Writing());
    h.device.AddFault(Make(RequestType::Erase, 1, FaultAction::AnswerStatus));
    EXPECT_TRUE(h.Exchange(Erase(0xD2000, 0x1000, 0x00)).empty());
    EXPECT_EQ(h.StatusOf(Hex("F0 52 00 6E 0A 00 F7")), sim::kStatusMalformed);
    EXPECT_EQ(h.StatusOf(Erase(0xD2000, 0x1000)), 1) << "the first well-formed erase for us";
}

// A read answered in pieces (the updater's tests check their bytes); no larger, one reply.
TEST(DeviceFaults, ReadInPiecesSplitsOnlyLargerReads) {
    DeviceHarness h;
    sim::Fault pieces = Make(RequestType::ReadMemory, 0, FaultAction::ReadInPieces);
    pieces.bytes = 300;
    h.device.AddFault(pieces);
    EXPECT_EQ(h.Exchange(ReadMemory(0x33000, 300)).size(), 1u);
    EXPECT_EQ(h.Exchange(ReadMemory(0x33000, 1000)).size(), 4u);
    EXPECT_EQ(h.device.Transcript()[0].note, "");
}

std::vector<std::string> NotesOfRandomRun(std::uint32_t seed, double probability) {
    sim::DeviceOptions options = Writing();
    options.seed = seed;
    options.randomFaults.probability = probability;
    options.randomFaults.delayMs = 0;
    DeviceHarness h(options);
    for (int i = 0; i < 200; ++i) {
        h.Exchange(i % 3 == 0 ? ReadMemory(0, 4) : Erase(0xD2000, 0x1000));
    }
    std::vector<std::string> notes;
    for (const sim::TranscriptEntry& e : h.device.Transcript()) {
        if (e.direction == sim::Direction::ToDevice) notes.push_back(e.note);
    }
    return notes;
}

TEST(DeviceFaults, RandomFaultsFollowTheSeed) {
    const std::vector<std::string> a = NotesOfRandomRun(7, 0.3);
    ASSERT_EQ(a.size(), 200u);
    EXPECT_EQ(a, NotesOfRandomRun(7, 0.3));
    EXPECT_NE(a, NotesOfRandomRun(8, 0.3));
    const auto faulted =
        std::count_if(a.begin(), a.end(), [](const std::string& n) { return !n.empty(); });
    EXPECT_GT(faulted, 30);
    EXPECT_LT(faulted, 100);
    for (const std::string& note : NotesOfRandomRun(7, 0.0)) EXPECT_TRUE(note.empty());
}

TEST(DeviceFaults, RandomFaultsKeepToTheChosenActionsAndTypes) {
    sim::DeviceOptions options = Writing();
    options.randomFaults.probability = 1.0;
    options.randomFaults.actions = {FaultAction::DuplicateReply, FaultAction::AnswerOtherId};
    options.randomFaults.on = {RequestType::Erase};
    DeviceHarness h(options);
    EXPECT_EQ(h.Exchange(Erase(0xD2000, 0x1000)).size(), 2u);
    EXPECT_EQ(h.Exchange(ReadMemory(0, 4)).size(), 1u);
}

}  // namespace
}  // namespace tq5::test
