// Whatever arrives, the virtual TQ-5 answers with an error status, a well-formed reply or
// nothing; it never crashes and never touches flash outside what a valid request may change
// (run under ASan/UBSan).

#include <gtest/gtest.h>

#include <random>

#include "device_harness.hpp"
#include "sim/device_status.hpp"

namespace tq5::test {
namespace {

bool IsWellFormedReply(const Bytes& m) {
    const protocol::MessageClass kind = protocol::ClassifyMessage(m.data(), m.size()).kind;
    return kind == protocol::MessageClass::StatusReply ||
           kind == protocol::MessageClass::ReadMemoryReply ||
           kind == protocol::MessageClass::IdentityReply;
}

struct Range {
    std::uint64_t begin;
    std::uint64_t end;
};

// The flash range a request may change if the device accepted it; empty for other requests.
Range RangeOf(const Bytes& m) {
    const protocol::DeviceRequest r = protocol::ParseRequest(m.data(), m.size());
    if (r.kind == protocol::RequestKind::Erase)
        return {r.address, std::uint64_t{r.address} + r.size};
    if (r.kind == protocol::RequestKind::WriteBlock) {
        return {r.address, std::uint64_t{r.address} + static_cast<std::uint64_t>(r.dataCount)};
    }
    return {0, 0};
}

TEST(DeviceBadInput, MutatedRequestsNeverCrashAndChangeOnlyWhatWasAccepted) {
    sim::DeviceOptions options;
    options.mode = sim::DeviceMode::FlashWriting;
    DeviceHarness h(options);
    const Bytes before = h.device.ReadFlash(0, engine::kFlashSize);

    std::mt19937 random(12345);
    const Bytes zeros(300, 0x00);  // zeros pass the NOR check anywhere
    const std::vector<Bytes> seeds = {WriteBlock(0x3FF000, zeros),
                                      ReadMemory(0x3FF000, 64),
                                      IdentityRequest(),
                                      EnterUpdate(),
                                      Finish(),
                                      Erase(0x3FF000, 0x1000)};
    std::vector<Range> accepted;
    for (int round = 0; round < 3000; ++round) {
        Bytes m = seeds[random() % seeds.size()];
        switch (random() % 4) {
            case 0:  // truncate
                m.resize(random() % m.size());
                break;
            case 1:  // flip bytes, top bit included
                for (int k = 0; k < 3; ++k)
                    m[random() % m.size()] ^= static_cast<std::uint8_t>(random());
                break;
            case 2:  // extend
                m.insert(m.end() - 1, random() % 40, static_cast<std::uint8_t>(random() & 0x7F));
                break;
            default:  // unchanged
                break;
        }
        const std::vector<Bytes> replies = h.Exchange(m);
        for (const Bytes& r : replies) ASSERT_TRUE(IsWellFormedReply(r)) << "round " << round;
        const Range range = RangeOf(m);
        if (range.end > range.begin && replies.size() == 1 && replies[0] == Status(0)) {
            ASSERT_LE(range.end, engine::kFlashSize) << "accepted a range outside the flash";
            accepted.push_back(range);
        }
        if (h.device.Mode() != sim::DeviceMode::FlashWriting) {
            h.device.SetMode(sim::DeviceMode::FlashWriting);
        }
    }
    EXPECT_GT(accepted.size(), 100u);
    // Every byte that no accepted request covered holds what it held before.
    const Bytes after = h.device.ReadFlash(0, engine::kFlashSize);
    std::vector<bool> covered(engine::kFlashSize, false);
    for (const Range& r : accepted) {
        for (std::uint64_t a = r.begin; a < r.end; ++a) covered[a] = true;
    }
    for (std::size_t a = 0; a < after.size(); ++a) {
        if (!covered[a]) {
            ASSERT_EQ(after[a], before[a]) << "byte 0x" << std::hex << a;
        }
    }
    const std::vector<Bytes> read = h.Exchange(ReadMemory(0, 4));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(protocol::ClassifyMessage(read[0].data(), read[0].size()).kind,
              protocol::MessageClass::ReadMemoryReply);
}

TEST(DeviceBadInput, CountsBeyondTheTwoByteFieldAreRefused) {
    sim::DeviceOptions options;
    options.mode = sim::DeviceMode::FlashWriting;
    DeviceHarness h(options);
    Bytes block = WriteBlock(0x1000, Bytes(7, 0x00));
    block[10] = 0xFF;  // 16,383 + more with the top bits
    block[11] = 0xFF;
    EXPECT_EQ(h.StatusOf(block), sim::kStatusMalformed);
    EXPECT_EQ(h.StatusOf(ReadMemory(0, 100000)), sim::kStatusBadRange);
    EXPECT_EQ(h.StatusOf(ReadMemory(0, 0xFFFFFFFFu)), sim::kStatusBadRange);
}

TEST(DeviceBadInput, HugeAndEmptyMessagesAreHandled) {
    DeviceHarness h;
    Bytes huge(100000, 0x11);
    huge.front() = 0xF0;
    huge[1] = 0x52;
    huge[3] = kDev;
    huge[4] = 0x02;
    huge.back() = 0xF7;
    EXPECT_EQ(h.StatusOf(huge), sim::kStatusMalformed);
    h.device.Receive(nullptr, 0);
    h.device.WaitIdle();
    EXPECT_TRUE(h.replies.Take().empty());
}

}  // namespace
}  // namespace tq5::test
