#include "engine/state/receive_queue.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/bytes.hpp"

namespace tq5::engine {
namespace {

using test::Bytes;
using test::Hex;

TEST(ReceiveQueue, FirstInFirstOutWithLengths) {
    ReceiveQueue q;
    std::size_t len = 99;
    EXPECT_EQ(q.PeekReceived(&len), nullptr);
    EXPECT_EQ(len, 0u);
    q.PopReceived();  // empty: nothing happens

    const Bytes a = Hex("F0 52 00 6E 00 00 F7");
    const Bytes b = Hex("F0 7E 00 06 01 F7");
    q.Push(a.data(), a.size());
    q.Push(b.data(), b.size());
    q.Push(b.data(), 0);  // empty blocks are never queued
    EXPECT_EQ(q.Size(), 2u);

    const std::uint8_t* first = q.PeekReceived(&len);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Bytes(first, first + len), a);
    EXPECT_EQ(q.PeekReceived(&len), first);  // peek twice: the same entry
    q.PopReceived();
    const std::uint8_t* second = q.PeekReceived(&len);
    EXPECT_EQ(Bytes(second, second + len), b);
    q.PopReceived();
    EXPECT_EQ(q.PeekReceived(&len), nullptr);
}

TEST(ReceiveQueue, PeekedEntryStaysValidWhileTheProducerAppends) {
    ReceiveQueue q;
    const Bytes first = Hex("F0 01 02 03 F7");
    q.Push(first.data(), first.size());
    std::size_t len = 0;
    const std::uint8_t* p = q.PeekReceived(&len);
    const Bytes filler(100, 0x11);
    for (int i = 0; i < 1000; ++i) q.Push(filler.data(), filler.size());
    EXPECT_EQ(Bytes(p, p + len), first);
}

TEST(ReceiveQueue, ProducerAndConsumerOnTwoThreadsLoseNothing) {
    ReceiveQueue q;
    std::atomic<int> hooks{0};
    q.SetArrivalHook([&] { hooks.fetch_add(1); });
    constexpr int kCount = 20000;
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i) {
            const std::uint8_t m[3] = {0xF0, static_cast<std::uint8_t>(i & 0x7F), 0xF7};
            q.Push(m, sizeof m);
        }
    });
    int received = 0;
    while (received < kCount) {
        std::size_t len = 0;
        if (const std::uint8_t* p = q.PeekReceived(&len)) {
            ASSERT_EQ(len, 3u);
            ASSERT_EQ(p[1], received & 0x7F);
            q.PopReceived();
            ++received;
        }
    }
    producer.join();
    EXPECT_EQ(hooks.load(), kCount);
}

}  // namespace
}  // namespace tq5::engine
