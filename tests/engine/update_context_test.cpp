#include "engine/state/update_context.hpp"

#include <gtest/gtest.h>

#include <thread>

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
