#include "engine/state/dispatcher.hpp"

#include <gtest/gtest.h>

#include "engine/procedures/exchange.hpp"

#include <array>

#include "protocol/codec.hpp"
#include "support/bytes.hpp"
#include "support/recording_output.hpp"

namespace tq5::engine {
namespace {

using test::Bytes;
using test::Hex;

class DispatcherTest : public ::testing::Test {
protected:
    DispatcherTest() { context.SetOutput(&output); }

    void Receive(const Bytes& m) { queue.Push(m.data(), m.size()); }
    void Run() { DispatchReplies(context, queue); }
    bool Signalled() { return context.Event().Wait(0); }
    // The reply handed to the waiting request, checked to have been signalled.
    Reply Posted() {
        EXPECT_TRUE(Signalled());
        return context.LastReply();
    }
    std::array<std::uint8_t, 4> ReadData() {
        std::array<std::uint8_t, 4> out{};
        EXPECT_TRUE(context.CopyReadData(out.data(), 4));
        return out;
    }

    UpdateContext context;
    ReceiveQueue queue;
    test::RecordingOutput output;
};

const Bytes kGoodRead = Hex("F0 52 00 6E 60 04 30 00 00 04 00 28 10 00 7F 7F 48 4C 4B 51 0E F7");

TEST_F(DispatcherTest, EmptyQueueDoesNothing) {
    Run();
    EXPECT_FALSE(Signalled());
    EXPECT_TRUE(output.Sent().empty());
}

TEST_F(DispatcherTest, DeviceCommandsAreAcknowledgedWithoutSignal) {
    context.SetCurrentDeviceId({0x6E, 0x00, 0x05, 0x00});
    context.Await(Answer::Status);
    Receive(Hex("F0 52 00 6E 01 F7"));
    Receive(Hex("F0 52 00 6E 04 F7"));
    Receive(Hex("F0 52 00 6E 05 F7"));
    Receive(Hex("F0 52 00 6E 7F F7"));
    Receive(Hex("F0 52 00 6E 03 F7"));
    Run();
    const auto sent = output.Sent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0], Hex("F0 52 00 6E 00 00 F7"));
    EXPECT_EQ(sent[1], Hex("F0 52 00 6E 00 00 F7"));
    EXPECT_EQ(sent[2], Hex("F0 52 00 6E 00 00 F7"));
    EXPECT_EQ(sent[3], Hex("F0 52 00 6E 00 01 F7"));
    EXPECT_FALSE(Signalled());
    EXPECT_EQ(queue.Size(), 0u);
}

TEST_F(DispatcherTest, BeforeIdentificationTheDeviceByteIsZero) {
    Receive(Hex("F0 52 00 6E 01 F7"));
    Run();
    ASSERT_EQ(output.Sent().size(), 1u);
    EXPECT_EQ(output.Sent()[0], Hex("F0 52 00 00 00 00 F7"));
}

TEST_F(DispatcherTest, StatusReplySetsStatusAndSignals) {
    context.Await(Answer::Status);
    Receive(Hex("F0 52 00 6E 00 0B F7"));
    Run();
    const Reply reply = Posted();
    EXPECT_EQ(reply.kind, ReplyKind::Status);
    EXPECT_EQ(reply.status, 11);
}

TEST_F(DispatcherTest, CompletionNoticeCountsAsSuccess) {
    context.Await(Answer::Status);
    Receive(Hex("F0 52 00 6E 02 F7"));
    Run();
    EXPECT_TRUE(Posted().Succeeded());
}

// Replies carry no reference to their request: only a reply of the kind the request waits for
// is handed to it. Per message, the answers it serves, in the order None, Status, Read,
// Identity.
TEST_F(DispatcherTest, OnlyAReplyOfTheAwaitedKindSignals) {
    const Answer answers[] = {Answer::None, Answer::Status, Answer::Read, Answer::Identity};
    const struct {
        Bytes message;
        const char* serves;
    } cases[] = {{Hex("F0 52 00 6E 00 00 F7"), "-SRI"},
                 {Hex("F0 52 00 6E 00 04 F7"), "-SRI"},
                 {Hex("F0 52 00 6E 02 F7"), "-S--"},
                 {Hex("F0 7E 00 06 02 52 6E 00 07 00 01 00 00 00 F7"), "---I"},
                 {kGoodRead, "--R-"},
                 {Hex("F0 52 00 6E 60 05 F7"), "--R-"}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        for (std::size_t a = 0; a < 4; ++a) {
            context.SetReportedDeviceId({0, 0, 0, 0});
            context.ResetReadCount();
            context.Await(answers[a]);
            Receive(c.message);
            Run();
            EXPECT_EQ(Signalled(), c.serves[a] != '-') << "message " << i << ", answer " << a;
        }
    }
    // The identity reply names the device only when it answers an identity request.
    context.Await(Answer::Status);
    Receive(Hex("F0 7E 00 06 02 52 6E 00 07 00 01 00 00 00 F7"));
    Run();
    EXPECT_EQ(context.ReportedDeviceId(), (DeviceId{0, 0, 0, 0}));
    context.Await(Answer::Identity);
    Receive(Hex("F0 7E 00 06 02 52 6E 00 07 00 01 00 00 00 F7"));
    Run();
    EXPECT_EQ(Posted().kind, ReplyKind::Identity);
    EXPECT_EQ(context.ReportedDeviceId(), (DeviceId{0x6E, 0x00, 0x07, 0x00}));
}

TEST_F(DispatcherTest, IdentityRequestIsAnsweredWithTheStoredReply) {
    Receive(Hex("F0 7E 00 06 01 F7"));
    Run();
    context.IdentityReply().SetDeviceId({0x6E, 0x00, 0x05, 0x00});
    Receive(Hex("F0 7E 7F 06 01 F7"));
    Run();
    const auto sent = output.Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], Hex("F0 7E 00 06 02 52 00 00 00 00 31 30 30 30 F7"));
    EXPECT_EQ(sent[1], Hex("F0 7E 00 06 02 52 6E 00 05 00 31 30 30 30 F7"));
    EXPECT_FALSE(Signalled());
}

TEST_F(DispatcherTest, UnknownUniversalGetsAnErrorReplyAndOtherSubIdsNothing) {
    context.SetCurrentDeviceId({0x6E, 0x00, 0x05, 0x00});
    Receive(Hex("F0 7E 00 06 03 F7"));
    Receive(Hex("F0 7E 00 07 01 F7"));
    Receive(Hex("F0 43 10 4C 00 00 7E 00 F7"));
    Run();
    const auto sent = output.Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], Hex("F0 52 00 6E 00 01 F7"));
    EXPECT_FALSE(Signalled());
}

TEST_F(DispatcherTest, GoodReadReplyStoresDataAndSucceeds) {
    context.Await(Answer::Read);
    Receive(kGoodRead);
    Run();
    EXPECT_EQ(Posted().kind, ReplyKind::ReadData);
    EXPECT_EQ(context.ReadCount(), 4);
    EXPECT_EQ(ReadData(), (std::array<std::uint8_t, 4>{0x10, 0x80, 0x7F, 0xFF}));
}

TEST_F(DispatcherTest, ReadReplyPassesWhateverBytesTwoThreeSevenEightHold) {
    Bytes m = kGoodRead;
    m[2] = 0x7F;
    m[3] = 0x11;
    m[7] = 0x22;
    m[8] = 0x33;
    context.Await(Answer::Read);
    Receive(m);
    Run();
    EXPECT_EQ(Posted().kind, ReplyKind::ReadData);
    EXPECT_EQ(context.ReadCount(), 4);
}

TEST_F(DispatcherTest, ReadReplyWithBadCrcFailsAndKeepsTheCount) {
    Bytes m = kGoodRead;
    m[16] ^= 0x01;
    context.Await(Answer::Read);
    Receive(m);
    Run();
    EXPECT_EQ(Posted().kind, ReplyKind::ReadBroken);
    EXPECT_EQ(context.ReadCount(), 0);
}

TEST_F(DispatcherTest, ReadReplyOfNoBytesPassesOnlyWithTheEmptyCrc) {
    context.Await(Answer::Read);
    Receive(Hex("F0 52 00 6E 60 04 30 00 00 00 00 7F 7F 7F 7F 0F F7"));
    Run();
    EXPECT_EQ(Posted().kind, ReplyKind::ReadData);
    Receive(Hex("F0 52 00 6E 60 04 30 00 00 00 00 7F 7F 7F 7F 0E F7"));
    Run();
    EXPECT_EQ(Posted().kind, ReplyKind::ReadBroken);
}

TEST_F(DispatcherTest, TwoReadRepliesAppendInOrder) {
    const std::uint8_t second[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    Bytes m2 = Hex("F0 52 00 6E 60 04 30 00 00 04 00");
    std::uint8_t packed[5];
    protocol::PackPayload(packed, second, 4);
    m2.insert(m2.end(), packed, packed + 5);
    std::uint8_t crc[5];
    protocol::EncodeSeptetNumber(protocol::ComputeCrc32(second, 4), crc);
    m2.insert(m2.end(), crc, crc + 5);
    m2.push_back(0xF7);
    Receive(kGoodRead);
    Receive(m2);
    Run();
    EXPECT_EQ(context.ReadCount(), 8);
    std::uint8_t all[8];
    ASSERT_TRUE(context.CopyReadData(all, 8));
    EXPECT_EQ(Bytes(all, all + 8), Hex("10 80 7F FF DE AD BE EF"));
}

TEST_F(DispatcherTest, ReadReplyWithOtherMarkerSignalsAndKeepsTheStatus) {
    context.Await(Answer::Read);
    Receive(Hex("F0 52 00 6E 60 05 30 00 00 04 00 F7"));
    Run();
    EXPECT_EQ(Posted().kind, ReplyKind::ReadOther);
}

TEST_F(DispatcherTest, ReadReplyWithWrongSubCodeFails) {
    Bytes m = kGoodRead;
    m[6] = 0x31;
    context.Await(Answer::Read);
    Receive(m);
    Run();
    EXPECT_EQ(Posted().kind, ReplyKind::ReadBroken);
    EXPECT_EQ(context.ReadCount(), 0);
}

TEST_F(DispatcherTest, TruncatedReadRepliesOfEveryLengthFailOrAreIgnored) {
    context.Await(Answer::Read);
    for (std::size_t len = 0; len < kGoodRead.size() - 1; ++len) {
        const Bytes prefix(kGoodRead.begin(), kGoodRead.begin() + static_cast<long>(len));
        Receive(prefix);
        Run();
        if (len >= 6) {
            EXPECT_EQ(Posted().kind, ReplyKind::ReadBroken) << len;
        } else {
            EXPECT_FALSE(Signalled()) << len;
        }
        EXPECT_EQ(context.ReadCount(), 0) << len;
    }
}

TEST_F(DispatcherTest, OversizedCountsNeverWriteOutsideTheBuffer) {
    // n = 16383 claims far more data than the message holds.
    Receive(Hex("F0 52 00 6E 60 04 30 00 00 7F 7F 00 01 02 03 04 05 06 07 F7"));
    // Bytes with the top bit set in the count positions (not valid SysEx, still survived).
    Receive(Hex("F0 52 00 6E 60 04 30 00 00 FF FF 00 F7"));
    context.Await(Answer::Read);
    Run();
    EXPECT_EQ(Posted().kind, ReplyKind::ReadBroken);
    EXPECT_EQ(context.ReadCount(), 0);
}

TEST_F(DispatcherTest, SeveralMessagesInOneRunEachWithItsOwnSignal) {
    context.Await(Answer::Status);
    Receive(Hex("F0 52 00 6E 00 00 F7"));
    Receive(Hex("F0 52 00 6E 01 F7"));
    Receive(Hex("F0 52 00 6E 00 03 F7"));
    Run();
    EXPECT_EQ(Posted().status, 3);  // the last reply wins; two signals leave one pending
    EXPECT_FALSE(Signalled());
    EXPECT_EQ(output.Sent().size(), 1u);
    EXPECT_EQ(queue.Size(), 0u);
}

TEST_F(DispatcherTest, FailingAnswersAreIgnored) {
    output.fail = true;
    context.Await(Answer::Status);
    Receive(Hex("F0 52 00 6E 01 F7"));
    Receive(Hex("F0 52 00 6E 00 00 F7"));
    Run();
    EXPECT_TRUE(Posted().Succeeded());
}

// The reply ledger: which status replies answer what was asked, and which are surplus (the
// link delivers replies twice) or late (after their request had been given up for lost).
TEST_F(DispatcherTest, LedgerTellsAnswersFromRepliesThatCameTwiceOrLate) {
    const Bytes ok = Hex("F0 52 00 6E 00 00 F7");
    const Bytes no = Hex("F0 52 00 6E 00 04 F7");
    // Asked: 's' a status request, 'r' a read, 'f' one status answer given up for lost.
    const struct {
        std::string asked;
        std::vector<Bytes> replies;
        std::int32_t surplus, late;
    } cases[] = {{"ss", {ok, no}, 0, 0}, {"s", {ok, ok}, 1, 0},
                 {"r", {no}, 0, 0},      {"r", {no, no}, 1, 0},
                 {"r", {ok}, 1, 0},      {"r", {kGoodRead, no}, 1, 0},
                 {"sf", {ok}, 1, 1},     {"sf", {ok, ok}, 2, 1},
                 {"rs", {ok, no}, 1, 1}};  // a read's refusal after the next status request
    for (const auto& c : cases) {
        context.StartReplyLedger();
        for (const char ask : c.asked) {
            if (ask == 's') context.ExpectStatusReply();
            if (ask == 'r') context.ExpectReadAnswer();
            if (ask == 'f') context.ForgoStatusReplies(1);
        }
        for (const Bytes& reply : c.replies) Receive(reply);
        Run();
        EXPECT_EQ(context.SurplusReplies(), c.surplus) << c.asked << " " << c.replies.size();
        EXPECT_EQ(context.LateReplies(), c.late) << c.asked << " " << c.replies.size();
    }
}

// An answer shows that what was sent has left: its line time lengthens no later wait.
TEST_F(DispatcherTest, AnAnswerClearsTheLine) {
    output.returnsEarly = true;
    ASSERT_TRUE(context.SendSysEx(Bytes(4700).data(), 4700));
    EXPECT_GT(context.LineBacklogMs(), 1000u);
    Receive(Hex("F0 52 00 6E 00 00 F7"));
    Run();
    EXPECT_EQ(context.LineBacklogMs(), 0u);
}

TEST_F(DispatcherTest, ClosingStatusSurvivesRepliesStillQueued) {
    context.Await(Answer::Status);
    context.MarkClosing();
    Receive(Hex("F0 52 00 6E 00 00 F7"));
    Run();
    EXPECT_EQ(AwaitReply(context, 0).end, WaitEnd::Closing);
}

}  // namespace
}  // namespace tq5::engine
