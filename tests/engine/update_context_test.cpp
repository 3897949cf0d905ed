#include "engine/state/update_context.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "engine/procedures/exchange.hpp"
#include "protocol/codec.hpp"
#include "support/recording_output.hpp"

namespace tq5::engine {
namespace {

TEST(ReplyEvent, AutoResetAndPendingSignal) {
    ReplyEvent e;
    EXPECT_FALSE(e.Wait(1));
    e.Set();
    e.Set();  // two signals without a wait leave one
    EXPECT_TRUE(e.Wait(1));
    EXPECT_FALSE(e.Wait(1));
    e.Set();
    e.Reset();
    EXPECT_FALSE(e.Wait(1));
}

TEST(ReplyEvent, WakesAWaiterOnAnotherThread) {
    ReplyEvent e;
    std::thread t([&] { e.Set(); });
    EXPECT_TRUE(e.Wait(10000));
    t.join();
}

TEST(UpdateContext, StartsZeroed) {
    UpdateContext c;
    EXPECT_EQ(c.Status(), 0);
    EXPECT_FALSE(c.IsBusy());
    EXPECT_EQ(c.ReportedDeviceId(), (DeviceId{0, 0, 0, 0}));
    EXPECT_EQ(c.DeviceByte(), 0);
    EXPECT_EQ(c.ReadCount(), 0);
}

TEST(UpdateContext, ClosingStatusSticksAgainstLaterReplies) {
    UpdateContext c;
    c.MarkClosing();
    EXPECT_TRUE(c.Event().Wait(1));
    c.SetStatus(0);  // a reply that was still queued
    EXPECT_EQ(c.Status(), kStatusClosing);
}

TEST(UpdateContext, SendSysExFailsWithoutOrWithAFailingOutput) {
    UpdateContext c;
    const std::uint8_t m[] = {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};
    EXPECT_EQ(c.SendSysEx(m, sizeof m), -1);
    test::RecordingOutput out;
    c.SetOutput(&out);
    EXPECT_EQ(c.SendSysEx(m, sizeof m), 0);
    out.fail = true;
    EXPECT_EQ(c.SendSysEx(m, sizeof m), -1);
    EXPECT_EQ(out.Sent().size(), 1u);
}

// The line time of what was sent counts only where the output returns before the bytes have
// left, and messages queue behind one another on the line.
TEST(UpdateContext, LineBacklogFollowsSendsThatReturnBeforeTheLine) {
    struct Row {
        const char* what;
        bool returnsEarly;
        bool fail;
        std::vector<std::size_t> sends;
        std::uint32_t backlogMs;  // right after the sends, before any time passed
    };
    const std::vector<Row> rows = {
        {"a send that returns once the bytes are out", false, false, {4700}, 0},
        {"a write block through a buffering system", true, false, {4700}, 1504},
        {"two blocks queue on the line", true, false, {4700, 4700}, 3008},
        {"an acknowledgement", true, false, {7}, 3},
        {"a send that failed", true, true, {4700}, 0},
    };
    for (const Row& row : rows) {
        UpdateContext c;
        test::RecordingOutput out;
        out.returnsEarly = row.returnsEarly;
        out.fail = row.fail;
        c.SetOutput(&out);
        const auto start = std::chrono::steady_clock::now();
        for (const std::size_t length : row.sends) {
            const std::vector<std::uint8_t> m(length, 0x00);
            (void)c.SendSysEx(m.data(), m.size());
        }
        const std::uint32_t backlog = c.LineBacklogMs();
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        EXPECT_LE(backlog, row.backlogMs) << row.what;
        EXPECT_GE(static_cast<std::int64_t>(backlog), row.backlogMs - elapsed - 1) << row.what;
    }
}

// A wait starts once the request has left: an answer that comes after the wait's own length,
// but within the request's time on the line, is taken; where the send returned only once the
// bytes were out, the same answer comes too late.
TEST(UpdateContext, AWaitCountsFromWhenTheRequestHasLeft) {
    for (const bool returnsEarly : {true, false}) {
        UpdateContext c;
        test::RecordingOutput out;
        out.returnsEarly = returnsEarly;
        c.SetOutput(&out);
        const std::vector<std::uint8_t> block(4700, 0x00);  // 1.5 s on the line
        ASSERT_TRUE(SendRequest(c, block.data(), block.size(), Answer::Other));
        std::thread device([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            c.SetStatus(0);
            c.Event().Set();
        });
        const std::optional<std::int32_t> status = AwaitReply(c, 50);
        device.join();
        EXPECT_EQ(status.has_value(), returnsEarly) << returnsEarly;
    }
}

TEST(UpdateContext, ReadBufferRefusesDataPastItsEnd) {
    UpdateContext c;
    // Fill the buffer to 4 bytes short of its end with 4-byte replies' worth of count.
    std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::uint8_t packed[10];
    const std::int32_t p = protocol::PackPayload(packed, data, 8);
    const std::uint32_t crc = protocol::ComputeCrc32(data, 8);
    const int fits = static_cast<int>(UpdateContext::kReadBufferSize / 8);
    for (int i = 0; i < fits; ++i) ASSERT_TRUE(c.AppendReadReply(packed, p, 8, crc));
    EXPECT_EQ(c.ReadCount(), static_cast<std::int32_t>(UpdateContext::kReadBufferSize));
    EXPECT_FALSE(c.AppendReadReply(packed, p, 8, crc));
    EXPECT_EQ(c.ReadCount(), static_cast<std::int32_t>(UpdateContext::kReadBufferSize));
}

}  // namespace
}  // namespace tq5::engine
