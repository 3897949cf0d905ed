#include "engine/state/update_context.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>
#include <vector>

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
    EXPECT_FALSE(c.IsClosing());
    EXPECT_FALSE(c.IsBusy());
    EXPECT_EQ(c.ReportedDeviceId(), (DeviceId{0, 0, 0, 0}));
    EXPECT_EQ(c.DeviceByte(), 0);
    EXPECT_EQ(c.ReadCount(), 0);
}

TEST(UpdateContext, ClosingStatusSticksAgainstLaterReplies) {
    UpdateContext c;
    c.MarkClosing();
    EXPECT_TRUE(c.Event().Wait(1));
    c.Await(Answer::Status);
    EXPECT_TRUE(c.PostReply({ReplyKind::Status, 0}));  // a reply that was still queued
    EXPECT_TRUE(c.IsClosing());
}

TEST(UpdateContext, SendSysExFailsWithoutOrWithAFailingOutput) {
    UpdateContext c;
    const std::uint8_t m[] = {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};
    EXPECT_FALSE(c.SendSysEx(m, sizeof m));
    test::RecordingOutput out;
    c.SetOutput(&out);
    EXPECT_TRUE(c.SendSysEx(m, sizeof m));
    out.fail = true;
    EXPECT_FALSE(c.SendSysEx(m, sizeof m));
    EXPECT_EQ(out.Sent().size(), 1u);
}

// The line time of what was sent counts only where the output returns before the bytes have
// left (a 4,700-byte block: 1,504 ms); messages queue behind one another on the line.
TEST(UpdateContext, LineBacklogFollowsSendsThatReturnBeforeTheLine) {
    using Sends = std::vector<std::size_t>;
    for (const auto& [early, fail, sends, backlogMs] :
         std::vector<std::tuple<bool, bool, Sends, std::int64_t>>{{false, false, {4700}, 0},
                                                                  {true, false, {4700}, 1504},
                                                                  {true, false, {4700, 4700}, 3008},
                                                                  {true, true, {4700}, 0}}) {
        UpdateContext c;
        test::RecordingOutput out;
        out.returnsEarly = early;
        out.fail = fail;
        c.SetOutput(&out);
        const auto start = std::chrono::steady_clock::now();
        for (const std::size_t n : sends) (void)c.SendSysEx(std::vector<std::uint8_t>(n).data(), n);
        const std::int64_t backlog = c.LineBacklogMs();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_LE(backlog, backlogMs);
        EXPECT_GE(backlog,
                  backlogMs - 1 - std::chrono::ceil<std::chrono::milliseconds>(elapsed).count());
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
