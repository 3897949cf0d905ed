// The transport as the window assembles it: output and input ports over the virtual driver,
// the poll timer running the dispatcher, and a virtual TQ-5 on the far end.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "midi/drivers/virtual/virtual_backend.hpp"
#include "protocol/messages.hpp"
#include "sim/port_pair_device.hpp"
#include "sim/virtual_device.hpp"
#include "support/bytes.hpp"
#include "transport_harness.hpp"
#include "wait_until.hpp"

namespace tq5::midi {
namespace {

using test::Hex;
using test::Transport;

constexpr std::uint32_t kGenerousReplyWaitMs = 5000;

class PollLoopTest : public ::testing::Test {
protected:
    PollLoopTest() {
        backend_.AddPair("TQ-5 In", "TQ-5 Out");
        pair_ = &backend_.AddPair("USB Audio Device", "USB Audio Device");
    }

    VirtualMidiBackend backend_;
    VirtualPortPair* pair_ = nullptr;
};

TEST_F(PollLoopTest, AnIdentityRequestIsAnsweredThroughTheWholeTransport) {
    sim::DeviceOptions options;
    options.id = {0x6E, 0x00, 0x07, 0x00};
    sim::HostDevice(*pair_, options);
    Transport transport(backend_);
    ASSERT_TRUE(transport.Open(1, 1));

    std::array<std::uint8_t, protocol::kIdentityRequestLength> request{};
    protocol::BuildIdentityRequest(request.data());
    ASSERT_EQ(transport.Exchange(request.data(), request.size(), kGenerousReplyWaitMs), 0);
    EXPECT_EQ(transport.context.ReportedDeviceId(), (protocol::DeviceId{0x6E, 0x00, 0x07, 0x00}));
    // The signal comes before the entry is popped; the run then empties the queue.
    EXPECT_TRUE(test::WaitUntil([&] { return transport.in.QueuedCount() == 0; }));
}

TEST_F(PollLoopTest, TheDevicesOwnRequestsAreAnsweredWhileNoProcedureRuns) {
    std::vector<std::vector<std::uint8_t>> answers;
    Transport transport(backend_);
    transport.context.SetCurrentDeviceId({0x6E, 0x00, 0x05, 0x00});
    ASSERT_TRUE(transport.Open(1, 1));

    const auto command = Hex("F0 52 00 6E 01 F7");
    pair_->SendToInput(command.data(), command.size());
    ASSERT_TRUE(test::WaitUntil([&] { return pair_->SentMessages().size() == 1; }));
    EXPECT_EQ(pair_->SentMessages()[0], Hex("F0 52 00 6E 00 00 F7"));

    const auto identityRequest = Hex("F0 7E 00 06 01 F7");
    pair_->SendToInput(identityRequest.data(), identityRequest.size());
    ASSERT_TRUE(test::WaitUntil([&] { return pair_->SentMessages().size() == 2; }));
    const auto stored = transport.context.IdentityReply().Bytes();
    EXPECT_EQ(pair_->SentMessages()[1], std::vector<std::uint8_t>(stored.begin(), stored.end()));
}

TEST_F(PollLoopTest, AnswersAreSentWhileTheWorkerWaitsOnAHeldLineAndClosingEndsTheWait) {
    sim::HostDevice(*pair_);
    Transport transport(backend_);
    ASSERT_TRUE(transport.Open(1, 1));
    pair_->SetHoldSends(true);

    std::array<std::uint8_t, protocol::kIdentityRequestLength> request{};
    protocol::BuildIdentityRequest(request.data());
    std::thread worker(
        [&] { EXPECT_FALSE(transport.context.SendSysEx(request.data(), request.size())); });
    ASSERT_TRUE(test::WaitUntil([&] { return pair_->SendsWaiting() == 1; }));
    // The window closes: both ports close, the waiting send ends, the worker goes on.
    transport.out.Close();
    transport.in.Close();
    transport.context.MarkClosing();
    worker.join();
    EXPECT_TRUE(transport.context.Event().Wait(0));
    EXPECT_TRUE(transport.context.IsClosing());
}

}  // namespace
}  // namespace tq5::midi
