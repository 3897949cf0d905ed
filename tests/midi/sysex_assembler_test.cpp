// The reassembly every input driver runs its raw bytes through: what a MIDI stream with
// real-time bytes, interrupted and cut-off messages, and messages in pieces yields.

#include "midi/sysex_assembler.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/bytes.hpp"

namespace tq5::midi {
namespace {

using test::Bytes;
using test::Hex;

struct Collected {
    std::vector<Bytes> blocks;
    SysExBlockHandler Handler() {
        return [this](const std::uint8_t* bytes, std::size_t length) {
            blocks.emplace_back(bytes, bytes + length);
        };
    }
};

std::vector<Bytes> Assemble(const std::vector<Bytes>& chunks) {
    Collected out;
    SysExAssembler assembler(out.Handler());
    for (const Bytes& chunk : chunks) assembler.Feed(chunk.data(), chunk.size());
    return out.blocks;
}

const std::string kReply = "F0 52 00 6E 00 00 F7";
const std::string kIdentity = "F0 7E 00 06 02 52 6E 00 05 00 31 30 30 30 F7";

struct StreamCase {
    const char* name;
    std::vector<std::string> chunks;    // as delivered by the platform, in order
    std::vector<std::string> expected;  // the messages that come out
};

class AssemblerStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(AssemblerStream, YieldsOnlyWholeCleanMessages) {
    std::vector<Bytes> chunks;
    for (const std::string& c : GetParam().chunks) chunks.push_back(Hex(c));
    std::vector<Bytes> expected;
    for (const std::string& e : GetParam().expected) expected.push_back(Hex(e));
    EXPECT_EQ(Assemble(chunks), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, AssemblerStream,
    ::testing::Values(
        StreamCase{"Whole", {kReply}, {kReply}},
        StreamCase{"TwoInOneChunk", {kReply + " " + kIdentity}, {kReply, kIdentity}},
        StreamCase{"ClockInsideAndBetween", {"F8 F0 52 F8 00 6E 00 FE 00 F8 F7 FE F8"}, {kReply}},
        StreamCase{
            "EveryRealTimeByteInside", {"F0 52 00 6E F8 F9 FA FB FC FD FE FF 00 00 F7"}, {kReply}},
        StreamCase{"ClockRightBeforeTheEnd", {"F0 52 00 6E 00 00 F8", "F7"}, {kReply}},
        StreamCase{"SplitIntoPieces", {"F0 52", "00 6E 00", "00", "F7"}, {kReply}},
        StreamCase{"LostEndThenReply", {"F0 7D 01 02 03", kReply}, {kReply}},
        StreamCase{"LostEndInTheSameChunk", {"F0 7D 01 02 03 " + kReply}, {kReply}},
        StreamCase{"ChannelMessageEndsUnfinished",
                   {"F0 52 00 6E 00", "90 40 7F", "00 F7", kReply},
                   {kReply}},
        StreamCase{"SystemCommonEndsUnfinished", {"F0 52 00 6E 00 F2 01 02 00 F7"}, {}},
        StreamCase{
            "ShortMessagesBetweenAreDropped", {"90 40 7F B0 07 64 " + kReply + " C0 05"}, {kReply}},
        StreamCase{"EndWithoutStartIsDropped", {"00 00 F7 " + kReply + " F7"}, {kReply}},
        StreamCase{"EmptyMessage", {"F0 F7"}, {"F0 F7"}},
        StreamCase{"NothingButRealTime", {"F8 F8 FE FF"}, {}}),
    [](const ::testing::TestParamInfo<StreamCase>& p) { return std::string(p.param.name); });

// A message arriving in pieces cut at any point yields the same one message.
TEST(SysExAssembler, EveryCutOfAMessageGivesTheSameMessage) {
    const Bytes identity = Hex(kIdentity);
    for (std::size_t cut = 1; cut < identity.size(); ++cut) {
        const Bytes first(identity.begin(), identity.begin() + static_cast<std::ptrdiff_t>(cut));
        const Bytes second(identity.begin() + static_cast<std::ptrdiff_t>(cut), identity.end());
        EXPECT_EQ(Assemble({first, Hex("F8"), second}), std::vector<Bytes>{identity})
            << "cut at " << cut;
    }
}

// Messages longer than the receive buffer go up in buffer-sized blocks: the first begins
// with F0, the later ones with data bytes; together they are the message.
TEST(SysExAssembler, LongMessagesComeInBufferSizedBlocks) {
    for (const std::size_t length :
         {kInputBlockSize - 1, kInputBlockSize, kInputBlockSize + 1, 2 * kInputBlockSize + 5}) {
        Bytes message(length, 0x11);
        message.front() = 0xF0;
        message.back() = 0xF7;
        Bytes withClock = message;
        withClock.insert(withClock.begin() + 100, 0xF8);
        const std::vector<Bytes> blocks = Assemble({withClock});
        ASSERT_EQ(blocks.size(), (length + kInputBlockSize - 1) / kInputBlockSize) << length;
        Bytes joined;
        for (const Bytes& b : blocks) {
            EXPECT_LE(b.size(), kInputBlockSize);
            joined.insert(joined.end(), b.begin(), b.end());
        }
        EXPECT_EQ(joined, message) << length;
        EXPECT_EQ(blocks.front().front(), 0xF0);
        if (blocks.size() > 1) {
            EXPECT_NE(blocks[1].front(), 0xF0);
        }
    }
}

TEST(SysExAssembler, ResetForgetsTheUnfinishedMessage) {
    Collected out;
    SysExAssembler assembler(out.Handler());
    const Bytes start = Hex("F0 52 00 6E 00");
    assembler.Feed(start.data(), start.size());
    EXPECT_TRUE(assembler.InMessage());
    assembler.Reset();
    EXPECT_FALSE(assembler.InMessage());
    const Bytes rest = Hex("00 F7");
    assembler.Feed(rest.data(), rest.size());
    EXPECT_TRUE(out.blocks.empty());
}

}  // namespace
}  // namespace tq5::midi
