#include "protocol/messages.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "protocol/codec.hpp"
#include "support/bytes.hpp"

namespace tq5::protocol {
namespace {

using test::Bytes;
using test::Hex;

template <typename Build>
Bytes Built(Build build) {
    Bytes out(kMaxWriteBlockRequestLength + 16, 0xEE);
    const std::size_t n = build(out.data());
    out.resize(n);
    return out;
}

TEST(Builders, ConstantAndShortMessages) {
    EXPECT_EQ(Built([](auto* o) { return BuildIdentityRequest(o); }), Hex("F0 7E 00 06 01 F7"));
    EXPECT_EQ(Built([](auto* o) { return BuildStatusMessage(o, 0x6E, 0); }),
              Hex("F0 52 00 6E 00 00 F7"));
    EXPECT_EQ(Built([](auto* o) { return BuildStatusMessage(o, 0x6E, 1); }),
              Hex("F0 52 00 6E 00 01 F7"));
    EXPECT_EQ(Built([](auto* o) { return BuildEnterUpdateRequest(o, 0x6E); }),
              Hex("F0 52 00 6E 01 F7"));
    EXPECT_EQ(Built([](auto* o) { return BuildFinishRequest(o, 0x00); }), Hex("F0 52 00 00 04 F7"));
}

TEST(Builders, ReadMemoryRequest) {
    EXPECT_EQ(Built([](auto* o) { return BuildReadMemoryRequest(o, 0x6E, 0x31FFC, 4); }),
              Hex("F0 52 00 6E 60 30 7C 3F 0C 00 00 04 00 00 00 00 F7"));
}

TEST(Builders, EraseRequest) {
    EXPECT_EQ(Built([](auto* o) { return BuildEraseRequest(o, 0x6E, 0xD2000, 4096); }),
              Hex("F0 52 00 6E 0A 00 40 34 00 00 00 20 00 00 00 F7"));
}

TEST(Builders, WriteBlockRequestOfThreeBytes) {
    const Bytes data = Hex("12 80 FF");
    EXPECT_EQ(
        Built([&](auto* o) { return BuildWriteBlockRequest(o, 0x6E, data.data(), 0x32000, 3); }),
        Hex("F0 52 00 6E 02 00 40 0C 00 00 03 00 30 12 00 7F 35 4C 74 4C 00 F7"));
}

TEST(Builders, WriteBlockRequestLengths) {
    Bytes data(4096);
    std::iota(data.begin(), data.end(), 0);
    const Bytes full =
        Built([&](auto* o) { return BuildWriteBlockRequest(o, 0x6E, data.data(), 0, 4096); });
    EXPECT_EQ(full.size(), 4700u);
    EXPECT_EQ(full.front(), 0xF0);
    EXPECT_EQ(full.back(), 0xF7);
    for (std::size_t i = 1; i + 1 < full.size(); ++i) ASSERT_LT(full[i], 0x80) << i;
    EXPECT_EQ(
        Built([&](auto* o) { return BuildWriteBlockRequest(o, 0x6E, data.data(), 0, 1); }).size(),
        20u);
    EXPECT_EQ(WriteBlockRequestLength(4096), 4700u);
}

TEST(Builders, WriteBlockRequestRefusesCountsItCannotCarry) {
    Bytes data(5000);
    Bytes out(8000, 0xEE);
    EXPECT_EQ(BuildWriteBlockRequest(out.data(), 0x6E, data.data(), 0, 4097), 0u);
    EXPECT_EQ(BuildWriteBlockRequest(out.data(), 0x6E, data.data(), 0, -1), 0u);
    EXPECT_EQ(out, Bytes(8000, 0xEE));
}

TEST(Builders, IdentityReplyCarriesTheAcceptedIdOrZero) {
    EXPECT_EQ(Built([](auto* o) { return BuildIdentityReply(o, {}); }),
              Hex("F0 7E 00 06 02 52 00 00 00 00 31 30 30 30 F7"));
    EXPECT_EQ(Built([](auto* o) {
                  return BuildIdentityReply(o, {0x6E, 0x00, 0x05, 0x00});
              }),
              Hex("F0 7E 00 06 02 52 6E 00 05 00 31 30 30 30 F7"));
}

ClassifiedMessage Classify(const Bytes& m) { return ClassifyMessage(m.data(), m.size()); }

TEST(Classifier, DeviceSpecificCommands) {
    EXPECT_EQ(Classify(Hex("F0 52 00 6E 00 0B F7")).kind, MessageClass::StatusReply);
    EXPECT_EQ(Classify(Hex("F0 52 00 6E 00 0B F7")).status, 11);
    for (const char* cmd : {"01", "04", "05"}) {
        EXPECT_EQ(Classify(Hex(std::string("F0 52 00 6E ") + cmd + " F7")).kind,
                  MessageClass::DeviceCommand)
            << cmd;
    }
    EXPECT_EQ(Classify(Hex("F0 52 00 6E 02 F7")).kind, MessageClass::CompletionNotice);
    EXPECT_EQ(Classify(Hex("F0 52 00 6E 03 F7")).kind, MessageClass::Ignored);
    for (const char* cmd : {"06", "0A", "5F", "61", "7F"}) {
        EXPECT_EQ(Classify(Hex(std::string("F0 52 00 6E ") + cmd + " F7")).kind,
                  MessageClass::UnknownCommand)
            << cmd;
    }
}

TEST(Classifier, UniversalMessages) {
    EXPECT_EQ(Classify(Hex("F0 7E 00 06 01 F7")).kind, MessageClass::IdentityRequest);
    const auto reply = Classify(Hex("F0 7E 00 06 02 52 6E 00 07 00 01 00 00 00 F7"));
    EXPECT_EQ(reply.kind, MessageClass::IdentityReply);
    EXPECT_EQ(reply.deviceId, (DeviceId{0x6E, 0x00, 0x07, 0x00}));
    EXPECT_EQ(Classify(Hex("F0 7E 00 06 03 F7")).kind, MessageClass::UnknownUniversal);
    EXPECT_EQ(Classify(Hex("F0 7E 00 07 01 F7")).kind, MessageClass::Ignored);
}

TEST(Classifier, ForeignAndBrokenMessagesAreIgnored) {
    EXPECT_EQ(Classify(Hex("F0 41 00 6E 00 00 F7")).kind, MessageClass::Ignored);
    EXPECT_EQ(Classify(Hex("F0 7F 00 06 02 F7")).kind, MessageClass::Ignored);
    EXPECT_EQ(Classify(Hex("90 40 7F")).kind, MessageClass::Ignored);
    EXPECT_EQ(Classify(Hex("52 00 6E 00 00 F7")).kind, MessageClass::Ignored);  // a continuation
    EXPECT_EQ(Classify(Bytes{}).kind, MessageClass::Ignored);
    EXPECT_EQ(ClassifyMessage(nullptr, 10).kind, MessageClass::Ignored);
}

TEST(Classifier, TruncatedMessagesNeverReadPastTheirEnd) {
    // Each prefix is copied into a buffer of exactly its size: ASan catches any over-read.
    const Bytes samples[] = {
        Hex("F0 52 00 6E 00 0B F7"),
        Hex("F0 7E 00 06 02 52 6E 00 07 00 01 00 00 00 F7"),
        Hex("F0 52 00 6E 60 04 30 00 00 04 00 28 10 00 7F 7F 48 4C 4B 51 0E F7"),
        Hex("F0 52 00 6E 01 F7"),
    };
    for (const Bytes& full : samples) {
        for (std::size_t len = 0; len < full.size(); ++len) {
            const Bytes prefix(full.begin(), full.begin() + static_cast<long>(len));
            (void)Classify(prefix);
        }
    }
    EXPECT_EQ(Classify(Hex("F0 52 00 6E 00")).kind, MessageClass::Ignored);
    EXPECT_EQ(Classify(Hex("F0 7E 00 06 02 52 6E 00 07")).kind, MessageClass::Ignored);
    EXPECT_EQ(Classify(Hex("F0 52 00 6E 60")).kind, MessageClass::Ignored);
}

TEST(Classifier, ReadReplyIsLocatedAndItsCrcDecoded) {
    const Bytes m = Hex("F0 52 00 6E 60 04 30 00 00 04 00 28 10 00 7F 7F 48 4C 4B 51 0E F7");
    const auto c = Classify(m);
    ASSERT_EQ(c.kind, MessageClass::ReadMemoryReply);
    EXPECT_EQ(c.dataCount, 4);
    EXPECT_EQ(c.packedCount, 5);
    EXPECT_EQ(c.packed, m.data() + 11);
    EXPECT_EQ(c.crc, 0xEA32E648u);
    Bytes data(4);
    UnpackPayload(data.data(), c.packed, c.packedCount);
    EXPECT_EQ(data, Hex("10 80 7F FF"));
}

TEST(Classifier, ReadReplyVariants) {
    EXPECT_EQ(Classify(Hex("F0 52 00 6E 60 05 30 00 00 00 00 7F 7F 7F 7F 0F F7")).kind,
              MessageClass::ReadReplyOther);
    EXPECT_EQ(Classify(Hex("F0 52 00 6E 60 04 31 00 00 00 00 7F 7F 7F 7F 0F F7")).kind,
              MessageClass::ReadReplyFailed);
    // Byte 5 = 0x04 but cut short: a failed read, not silence.
    EXPECT_EQ(Classify(Hex("F0 52 00 6E 60 04")).kind, MessageClass::ReadReplyFailed);
    // A count whose data and CRC would run past the message's end.
    EXPECT_EQ(Classify(Hex("F0 52 00 6E 60 04 30 00 00 7F 7F 00 00 F7")).kind,
              MessageClass::ReadReplyFailed);
    const auto empty = Classify(Hex("F0 52 00 6E 60 04 30 00 00 00 00 7F 7F 7F 7F 0F F7"));
    EXPECT_EQ(empty.kind, MessageClass::ReadMemoryReply);
    EXPECT_EQ(empty.dataCount, 0);
    EXPECT_EQ(empty.crc, 0xFFFFFFFFu);
}

}  // namespace
}  // namespace tq5::protocol
