// The WinMM output driver against a fake winmm.dll: prepare, send, done mark, unprepare;
// the bounded wait; two senders on one line. (Close during a waiting send: the driver
// contract, driver_contract_winmm_test.cpp.)

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "midi/drivers/winmm/winmm_output.hpp"
#include "win32/fake_winmm.hpp"

namespace tq5::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using midi::winmm::WinMmOutputDriver;

const Bytes kIdentityRequest = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};

class WinMmOutputDriverTest : public ::testing::Test {
protected:
    WinMmOutputDriverTest() { fake.outputNames = {"USB Audio Device", "VARN TQ Series (2)"}; }

    bool Send(const Bytes& bytes, std::uint32_t timeoutMs = 5000) {
        return driver.Send(bytes.data(), static_cast<std::uint32_t>(bytes.size()), timeoutMs);
    }

    FakeWinMm fake;
    WinMmOutputDriver driver{fake.Api()};
};

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST_F(WinMmOutputDriverTest, SendReturnsOnceTheDriverIsDoneAndUnpreparesTheBlock) {
    ASSERT_TRUE(driver.Open(0));
    EXPECT_TRUE(Send(kIdentityRequest));
    EXPECT_EQ(fake.SentMessages(), std::vector<Bytes>{kIdentityRequest});
    EXPECT_EQ(fake.outputUnprepareCount.load(), 1);
    EXPECT_EQ(fake.outputResetCount.load(), 0);
}

TEST_F(WinMmOutputDriverTest, SendWithoutAnOpenDeviceMakesNoPlatformCall) {
    EXPECT_FALSE(Send(kIdentityRequest));
    EXPECT_TRUE(fake.SentMessages().empty());
    EXPECT_EQ(fake.callsWhileClosed.load(), 0);
}

TEST_F(WinMmOutputDriverTest, MinusOneOpensTheMidiMapper) {
    EXPECT_TRUE(driver.Open(-1));
    EXPECT_EQ(fake.lastOutputDevice, MIDI_MAPPER);
}

TEST_F(WinMmOutputDriverTest, FailedOpenLeavesNoDeviceOpen) {
    ASSERT_TRUE(driver.Open(0));
    fake.outOpenResult = MMSYSERR_ALLOCATED;
    EXPECT_FALSE(driver.Open(1));
    EXPECT_EQ(fake.outputCloseCount.load(), 1) << "the device open before is closed first";
    EXPECT_FALSE(Send(kIdentityRequest));
}

TEST_F(WinMmOutputDriverTest, RefusedMessageIsUnpreparedAndReported) {
    ASSERT_TRUE(driver.Open(0));
    fake.outLongMsgResult = MIDIERR_NOTREADY;
    EXPECT_FALSE(Send(kIdentityRequest));
    EXPECT_EQ(fake.outputUnprepareCount.load(), 1);
    driver.Close();
    EXPECT_EQ(fake.closedWithSendInProgress.load(), 0);
}

TEST_F(WinMmOutputDriverTest, SendGivesUpAfterItsTimeOutAndTakesTheBlockBack) {
    fake.outputCompletion = FakeWinMm::OutputCompletion::OnReset;
    ASSERT_TRUE(driver.Open(0));
    const auto start = Clock::now();
    EXPECT_FALSE(Send(kIdentityRequest, 50));
    EXPECT_GE(MsSince(start), 40);
    EXPECT_LT(MsSince(start), 5000);
    EXPECT_EQ(fake.outputResetCount.load(), 1);
    EXPECT_EQ(fake.outputUnprepareCount.load(), 1);
    EXPECT_EQ(fake.PendingOutput(), 0u);
}

TEST_F(WinMmOutputDriverTest, BytesTheDriverStillHoldsStayIntactAfterTheSendGaveUp) {
    fake.outputCompletion = FakeWinMm::OutputCompletion::Never;
    ASSERT_TRUE(driver.Open(0));
    Bytes message = kIdentityRequest;
    EXPECT_FALSE(driver.Send(message.data(), static_cast<std::uint32_t>(message.size()), 20));
    std::fill(message.begin(), message.end(), 0x00);  // the caller reuses its buffer

    EXPECT_EQ(fake.PendingOutputBytes(), std::vector<Bytes>{kIdentityRequest});
    EXPECT_EQ(fake.outputUnprepareCount.load(), 0) << "a held block must stay prepared";
    driver.Close();  // the device refuses to close while it holds the block
    EXPECT_FALSE(Send(kIdentityRequest)) << "the port regards the device as closed";
    fake.FinishPendingOutput();  // writes into the block: it must still be allocated
    EXPECT_EQ(fake.closedWithSendInProgress.load(), 0);
}

TEST_F(WinMmOutputDriverTest, ABlockGivenBackLateIsTakenBackAtCloseAndTheDeviceCloses) {
    fake.outputCompletion = FakeWinMm::OutputCompletion::OnSecondReset;
    ASSERT_TRUE(driver.Open(0));
    EXPECT_FALSE(Send(kIdentityRequest, 20));
    EXPECT_EQ(fake.PendingOutput(), 1u) << "the driver kept the block past the send's reset";
    driver.Close();
    EXPECT_EQ(fake.outputResetCount.load(), 2);
    EXPECT_EQ(fake.outputUnprepareCount.load(), 1);
    EXPECT_EQ(fake.outputCloseCount.load(), 1);
    // Closed for real, so the device opens again.
    EXPECT_TRUE(driver.Open(0));
}

TEST_F(WinMmOutputDriverTest, TwoSendersNeverHaveTwoMessagesOnTheLine) {
    fake.outputCompletion = FakeWinMm::OutputCompletion::OnReset;
    ASSERT_TRUE(driver.Open(0));
    std::atomic<bool> stop{false};
    std::thread line([&] {
        while (!stop.load()) {
            fake.FinishPendingOutput();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::atomic<int> sent{0};
    auto sender = [&](std::uint8_t tag) {
        for (int i = 0; i < 20; ++i) {
            if (Send({0xF0, 0x52, 0x00, tag, static_cast<std::uint8_t>(i), 0xF7})) ++sent;
        }
    };
    std::thread a(sender, 0x01);
    std::thread b(sender, 0x02);
    a.join();
    b.join();
    stop.store(true);
    line.join();

    EXPECT_EQ(sent.load(), 40);
    EXPECT_EQ(fake.overlappingMessages.load(), 0);
    EXPECT_EQ(fake.SentMessages().size(), 40u);
}

TEST_F(WinMmOutputDriverTest, DeviceNamesComeFromTheCapabilities) {
    EXPECT_EQ(driver.GetDeviceCount(), 2u);
    EXPECT_EQ(driver.GetDeviceName(1), "VARN TQ Series (2)");
    EXPECT_EQ(driver.GetDeviceName(2), "");
}

}  // namespace
}  // namespace tq5::test
