// The WinMM input driver against a fake winmm.dll: the buffer's way to the driver and back,
// the stop sequence, and the failures of the steps in between.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/drivers/winmm/winmm_input.hpp"
#include "win32/fake_winmm.hpp"

namespace tq5::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using midi::winmm::WinMmInputDriver;

class WinMmInputDriverTest : public ::testing::Test {
protected:
    WinMmInputDriverTest() { fake.inputNames = {"USB Audio Device", "VARN TQ Series"}; }

    bool Open(std::int32_t index) {
        return driver.Open(index, [this](const std::uint8_t* bytes, std::size_t length) {
            std::lock_guard guard(lock);
            blocks.emplace_back(bytes, bytes + length);
        });
    }

    std::vector<Bytes> Blocks() {
        std::lock_guard guard(lock);
        return blocks;
    }

    FakeWinMm fake;
    WinMmInputDriver driver{fake.Api()};
    std::mutex lock;
    std::vector<Bytes> blocks;
};

Bytes SysEx(std::size_t length) {
    Bytes bytes(length, 0x11);
    bytes.front() = 0xF0;
    bytes.back() = 0xF7;
    return bytes;
}

TEST_F(WinMmInputDriverTest, RunningInputHoldsOneFullBufferAndDeliversEachReturnOfIt) {
    ASSERT_TRUE(Open(1));
    EXPECT_EQ(fake.lastInputDevice, 1u);
    EXPECT_EQ(fake.lastInputOpenFlags, static_cast<DWORD>(CALLBACK_FUNCTION));
    EXPECT_EQ(fake.HeldInputBuffers(), 1u);

    const Bytes reply = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x01, 0xF7};
    EXPECT_EQ(fake.DeliverSysEx(reply), reply.size());
    EXPECT_EQ(fake.DeliverSysEx(reply), reply.size()) << "the buffer was not handed back";
    EXPECT_EQ(Blocks(), (std::vector<Bytes>{reply, reply}));
    EXPECT_EQ(fake.HeldInputBuffers(), 1u);
}

TEST_F(WinMmInputDriverTest, MessageLongerThanTheBufferArrivesInOrderedBlocks) {
    ASSERT_TRUE(Open(0));
    const Bytes message = SysEx(midi::kInputBlockSize * 2 + 5);
    EXPECT_EQ(fake.DeliverSysEx(message), message.size());

    const auto got = Blocks();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].size(), midi::kInputBlockSize);
    EXPECT_EQ(got[1].size(), midi::kInputBlockSize);
    EXPECT_EQ(got[2].size(), 5u);
    EXPECT_EQ(got[0].front(), 0xF0);
    EXPECT_NE(got[1].front(), 0xF0);
    EXPECT_EQ(got[2].back(), 0xF7);
}

TEST_F(WinMmInputDriverTest, ShortMessagesAndNoticesDeliverNothing) {
    ASSERT_TRUE(Open(0));
    fake.DeliverShort(0x00403C90);  // note on
    fake.DeliverShort(0x000000F8);  // clock
    EXPECT_TRUE(Blocks().empty());
    EXPECT_EQ(fake.HeldInputBuffers(), 1u);
}

TEST_F(WinMmInputDriverTest, BufferReturnedWithAnErrorGoesBackSoReceptionContinues) {
    ASSERT_TRUE(Open(0));
    ASSERT_TRUE(fake.DeliverError({0xF0, 0x52, 0x00}));
    EXPECT_TRUE(Blocks().empty()) << "a broken message must not reach the queue";
    EXPECT_EQ(fake.HeldInputBuffers(), 1u);

    const Bytes reply = {0xF0, 0x52, 0x00, 0x01, 0x04, 0x00, 0xF7};
    EXPECT_EQ(fake.DeliverSysEx(reply), reply.size());
    EXPECT_EQ(Blocks(), std::vector<Bytes>{reply});
}

// The buffers go through the reassembly every driver shares: a clock byte inside a reply is
// removed, a message that lost its F7 is ended by the next status byte, whether that comes
// as a short message or in the next buffer, and an error notice forgets a message's start.
TEST_F(WinMmInputDriverTest, BuffersAreReassembledIntoCleanMessages) {
    ASSERT_TRUE(Open(0));
    const Bytes reply = {0xF0, 0x52, 0x00, 0x6E, 0x00, 0x00, 0xF7};
    EXPECT_TRUE(fake.DeliverSysEx({0xF0, 0x52, 0x00, 0xF8, 0x6E, 0x00, 0x00, 0xF7}));
    EXPECT_TRUE(fake.DeliverSysEx({0xF0, 0x7D, 0x01}));  // a foreign message, cut off
    fake.DeliverShort(0x00403C90);                       // note on ends it
    EXPECT_TRUE(fake.DeliverSysEx({0x02, 0xF7}));
    EXPECT_TRUE(fake.DeliverSysEx({0xF0, 0x52, 0x00}));
    ASSERT_TRUE(fake.DeliverError({0x6E}));
    EXPECT_TRUE(fake.DeliverSysEx({0x00, 0x00, 0xF7}));
    EXPECT_TRUE(fake.DeliverSysEx(reply));
    EXPECT_EQ(Blocks(), (std::vector<Bytes>{reply, reply}));
}

TEST_F(WinMmInputDriverTest, MinusOneGoesToThePlatformUnchangedAndIsRefused) {
    EXPECT_FALSE(Open(-1));
    EXPECT_EQ(fake.lastInputDevice, 0xFFFFFFFFu);
    EXPECT_EQ(fake.liveAllocations.load(), 0);
}

TEST_F(WinMmInputDriverTest, StepFailingAfterTheOpenLeavesNoDeviceOpenAndNothingAllocated) {
    for (const bool failAdd : {true, false}) {
        SCOPED_TRACE(failAdd ? "midiInAddBuffer fails" : "midiInStart fails");
        fake.inAddBufferResult = failAdd ? MMSYSERR_NOMEM : MMSYSERR_NOERROR;
        fake.inStartResult = failAdd ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
        const int closesBefore = fake.inputCloseCount.load();
        EXPECT_FALSE(Open(0));
        EXPECT_EQ(fake.inputCloseCount.load(), closesBefore + 1);
        EXPECT_EQ(fake.HeldInputBuffers(), 0u);
        EXPECT_EQ(fake.liveAllocations.load(), 0);
        EXPECT_EQ(fake.freedWhileHeld.load(), 0);
    }
    fake.inAddBufferResult = MMSYSERR_NOERROR;
    fake.inStartResult = MMSYSERR_NOERROR;
    EXPECT_TRUE(Open(0)) << "a failed open must not block the next one";
}

TEST_F(WinMmInputDriverTest, CloseGetsTheBufferBackBeforeFreeingIt) {
    ASSERT_TRUE(Open(0));
    driver.Close();
    EXPECT_EQ(fake.inputCloseCount.load(), 1);
    EXPECT_EQ(fake.HeldInputBuffers(), 0u);
    EXPECT_EQ(fake.liveAllocations.load(), 0);
    EXPECT_EQ(fake.freedWhileHeld.load(), 0);
    EXPECT_EQ(fake.callsWhileClosed.load(), 0);

    driver.Close();  // not running: no platform call
    EXPECT_EQ(fake.callsWhileClosed.load(), 0);
    EXPECT_EQ(fake.inputCloseCount.load(), 1);
}

TEST_F(WinMmInputDriverTest, PartlyFilledBufferFromTheResetIsNeitherDeliveredNorHandedBack) {
    fake.inputReset = FakeWinMm::InputReset::ReturnPartial;
    ASSERT_TRUE(Open(0));
    driver.Close();
    EXPECT_TRUE(Blocks().empty());
    EXPECT_EQ(fake.HeldInputBuffers(), 0u);
    EXPECT_EQ(fake.inputCloseCount.load(), 1);
    EXPECT_EQ(fake.freedWhileHeld.load(), 0);
    EXPECT_EQ(fake.liveAllocations.load(), 0);
}

TEST_F(WinMmInputDriverTest, BufferTheDriverKeepsIsNeverFreed) {
    fake.inputReset = FakeWinMm::InputReset::Keep;
    ASSERT_TRUE(Open(0));
    driver.Close();
    EXPECT_EQ(fake.freedWhileHeld.load(), 0);
    EXPECT_EQ(fake.HeldInputBuffers(), 1u);
    fake.ScribbleIntoHeldBuffers();  // the driver may still write; the memory is still ours
    EXPECT_EQ(fake.liveAllocations.load(), 2) << "header and buffer stay allocated";
}

TEST_F(WinMmInputDriverTest, NoBlockIsDeliveredOnceCloseHasReturned) {
    std::atomic<bool> closed{false};
    std::atomic<int> lateBlocks{0};
    std::atomic<bool> stop{false};
    ASSERT_TRUE(driver.Open(0, [&](const std::uint8_t*, std::size_t) {
        if (closed.load()) ++lateBlocks;
    }));
    std::thread midiThread([&] {
        const Bytes reply = {0xF0, 0x52, 0x00, 0x01, 0x04, 0x00, 0xF7};
        while (!stop.load()) fake.DeliverSysEx(reply);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    driver.Close();
    closed.store(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop.store(true);
    midiThread.join();

    EXPECT_EQ(lateBlocks.load(), 0);
    EXPECT_EQ(fake.freedWhileHeld.load(), 0);
    EXPECT_EQ(fake.HeldInputBuffers(), 0u);
    EXPECT_EQ(fake.liveAllocations.load(), 0);
}

TEST_F(WinMmInputDriverTest, DeviceNamesComeFromTheCapabilities) {
    fake.inputNames.push_back(std::string(40, 'N'));
    EXPECT_EQ(driver.GetDeviceCount(), 3u);
    EXPECT_EQ(driver.GetDeviceName(1), "VARN TQ Series");
    EXPECT_EQ(driver.GetDeviceName(2), std::string(31, 'N')) << "the record holds 31 characters";
    EXPECT_EQ(driver.GetDeviceName(3), "") << "capabilities that can't be read";
}

}  // namespace
}  // namespace tq5::test
