// The device's reading of the updater's requests, and the updater's reading of the device's
// replies: each side's builders checked against the other side's parser.

#include <gtest/gtest.h>

#include "device_harness.hpp"
#include "protocol/codec.hpp"
#include "protocol/device_messages.hpp"

namespace tq5::test {
namespace {

using protocol::ParseRequest;
using protocol::RequestKind;

protocol::DeviceRequest Parse(const Bytes& m) { return ParseRequest(m.data(), m.size()); }

TEST(ParseRequest, ReadsEveryRequestTheUpdaterBuilds) {
    EXPECT_EQ(Parse(IdentityRequest()).kind, RequestKind::IdentityRequest);
    EXPECT_EQ(Parse(EnterUpdate()).kind, RequestKind::EnterUpdate);
    EXPECT_EQ(Parse(Finish()).kind, RequestKind::Finish);

    const protocol::DeviceRequest erase = Parse(Erase(0xDB000, 0x325000));
    EXPECT_EQ(erase.kind, RequestKind::Erase);
    EXPECT_EQ(erase.deviceByte, kDev);
    EXPECT_EQ(erase.address, 0xDB000u);
    EXPECT_EQ(erase.size, 0x325000u);

    const protocol::DeviceRequest read = Parse(ReadMemory(0x31FFC, 4));
    EXPECT_EQ(read.kind, RequestKind::ReadMemory);
    EXPECT_EQ(read.address, 0x31FFCu);
    EXPECT_EQ(read.size, 4u);

    const Bytes data = Hex("12 80 FF");
    const Bytes block = WriteBlock(0x32000, data);
    const protocol::DeviceRequest write = Parse(block);
    ASSERT_EQ(write.kind, RequestKind::WriteBlock);
    EXPECT_EQ(write.address, 0x32000u);
    EXPECT_EQ(write.dataCount, 3);
    EXPECT_EQ(write.packedCount, 4);
    EXPECT_EQ(write.packed, block.data() + 12);
    EXPECT_EQ(write.crc, 0x099D2635u);
}

TEST(ParseRequest, ReadsTheUpdatersOwnAnswers) {
    const protocol::DeviceRequest ack = Parse(Status(0));
    EXPECT_EQ(ack.kind, RequestKind::StatusMessage);
    EXPECT_EQ(ack.status, 0);
    EXPECT_EQ(Parse(Status(1)).status, 1);

    const protocol::DeviceRequest reply =
        Parse(Hex("F0 7E 00 06 02 52 6E 00 05 00 31 30 30 30 F7"));
    EXPECT_EQ(reply.kind, RequestKind::IdentityReply);
    EXPECT_EQ(reply.deviceId, (protocol::DeviceId{0x6E, 0x00, 0x05, 0x00}));
}

TEST(ParseRequest, EveryTruncationOfARequestIsMalformedOrIgnored) {
    const Bytes data(4096, 0xA7);
    for (const Bytes& full : {EnterUpdate(), Finish(), Erase(0, 4096), ReadMemory(0, 4),
                              WriteBlock(0x1000, data), IdentityRequest(), Status(0)}) {
        for (std::size_t length = 0; length < full.size(); ++length) {
            // A heap copy of exactly `length` bytes, so ASan catches any read past it.
            const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
            const RequestKind kind = ParseRequest(length ? cut.data() : nullptr, length).kind;
            EXPECT_TRUE(kind == RequestKind::Malformed || kind == RequestKind::Ignored)
                << "length " << length << " of " << full.size();
            // A trusted parse takes the length on trust, never what lies past it.
            ParseRequest(length ? cut.data() : nullptr, length, protocol::Layout::Trusted);
        }
        // Of the updater's own messages it reads what the checked parse reads.
        const protocol::DeviceRequest checked = Parse(full);
        const protocol::DeviceRequest trusted =
            ParseRequest(full.data(), full.size(), protocol::Layout::Trusted);
        EXPECT_EQ(trusted.kind, checked.kind);
        EXPECT_EQ(trusted.address, checked.address);
        EXPECT_EQ(trusted.size, checked.size);
        EXPECT_EQ(trusted.dataCount, checked.dataCount);
        EXPECT_EQ(trusted.status, checked.status);
    }
}

TEST(ParseRequest, RefusesWrongTerminatorsHighBitsAndExtraBytes) {
    Bytes erase = Erase(0, 4096);
    erase.back() = 0x00;
    EXPECT_EQ(Parse(erase).kind, RequestKind::Malformed);

    Bytes high = ReadMemory(0, 4);
    high[8] |= 0x80;
    EXPECT_EQ(Parse(high).kind, RequestKind::Malformed);

    Bytes longer = EnterUpdate();
    longer.insert(longer.end() - 1, 0x00);
    EXPECT_EQ(Parse(longer).kind, RequestKind::Malformed);

    // A count with its top bit set would claim more than 16,383 bytes.
    Bytes count = WriteBlock(0, Bytes(8, 0x01));
    count[11] = 0xFF;
    EXPECT_EQ(Parse(count).kind, RequestKind::Malformed);
}

TEST(ParseRequest, WriteBlockWhoseCountDisagreesWithItsLengthIsMalformed) {
    Bytes block = WriteBlock(0, Bytes(100, 0x55));
    block[10] = 101 & 0x7F;  // claims one byte more than it carries
    EXPECT_EQ(Parse(block).kind, RequestKind::Malformed);
    block[10] = 99;
    EXPECT_EQ(Parse(block).kind, RequestKind::Malformed);
}

TEST(ParseRequest, SortsOtherMessages) {
    EXPECT_EQ(Parse(Hex("F0 52 00 6E 33 F7")).kind, RequestKind::UnknownCommand);
    EXPECT_EQ(Parse(Hex("F0 52 00 6E 60 31 F7")).kind, RequestKind::UnknownCommand);
    EXPECT_EQ(Parse(Hex("F0 7E 00 06 03 F7")).kind, RequestKind::Ignored);
    EXPECT_EQ(Parse(Hex("F0 7E 00 07 01 F7")).kind, RequestKind::Ignored);
    EXPECT_EQ(Parse(Hex("F0 41 00 6E 01 F7")).kind, RequestKind::Ignored);
    EXPECT_EQ(Parse(Hex("90 40 7F")).kind, RequestKind::Ignored);
    EXPECT_EQ(Parse(Hex("F0 52 00")).kind, RequestKind::Malformed);
    EXPECT_FALSE(Parse(Hex("F0 52 00")).hasDeviceByte);
}

TEST(DeviceReplies, IdentityReplyCarriesTheIdWhereTheUpdaterReadsIt) {
    Bytes m(protocol::kDeviceIdentityReplyLength);
    protocol::BuildDeviceIdentityReply(m.data(), {0x6E, 0x00, 0x07, 0x00}, {'1', '0', '5', '0'});
    EXPECT_EQ(m, Hex("F0 7E 00 06 02 52 6E 00 07 00 31 30 35 30 F7"));
    const protocol::ClassifiedMessage c = protocol::ClassifyMessage(m.data(), m.size());
    EXPECT_EQ(c.kind, protocol::MessageClass::IdentityReply);
    EXPECT_EQ(c.deviceId, (protocol::DeviceId{0x6E, 0x00, 0x07, 0x00}));
}

TEST(DeviceReplies, ReadReplyMatchesTheDocumentedBytes) {
    const Bytes data = Hex("10 80 7F FF");
    Bytes m(protocol::ReadMemoryReplyLength(4));
    ASSERT_EQ(protocol::BuildReadMemoryReply(m.data(), kDev, data.data(), 4), 22u);
    EXPECT_EQ(m, Hex("F0 52 00 6E 60 04 30 00 00 04 00 28 10 00 7F 7F 48 4C 4B 51 0E F7"));
    EXPECT_EQ(protocol::ReadMemoryReplyCrcOffset(4), 16u);
}

TEST(DeviceReplies, ReadReplyOfNoBytesCarriesTheEmptyCrc) {
    Bytes m(protocol::ReadMemoryReplyLength(0));
    ASSERT_EQ(protocol::BuildReadMemoryReply(m.data(), kDev, nullptr, 0), 17u);
    EXPECT_EQ(m, Hex("F0 52 00 6E 60 04 30 00 00 00 00 7F 7F 7F 7F 0F F7"));
}

TEST(DeviceReplies, LargestReadReplyRoundTripsThroughTheUpdatersClassifier) {
    Bytes data(protocol::kMaxReadReplyBytes);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37);
    Bytes m(protocol::ReadMemoryReplyLength(protocol::kMaxReadReplyBytes));
    ASSERT_EQ(
        protocol::BuildReadMemoryReply(m.data(), kDev, data.data(), protocol::kMaxReadReplyBytes),
        m.size());
    const protocol::ClassifiedMessage c = protocol::ClassifyMessage(m.data(), m.size());
    ASSERT_EQ(c.kind, protocol::MessageClass::ReadMemoryReply);
    ASSERT_EQ(c.dataCount, 16383);
    Bytes back(static_cast<std::size_t>(c.dataCount));
    protocol::UnpackPayload(back.data(), c.packed, c.packedCount);
    EXPECT_EQ(back, data);
    EXPECT_EQ(c.crc, protocol::ComputeCrc32(data.data(), protocol::kMaxReadReplyBytes));
    // One more byte does not fit the two-byte count: nothing is built.
    EXPECT_EQ(protocol::BuildReadMemoryReply(m.data(), kDev, data.data(), 16384), 0u);
}

TEST(DeviceReplies, DeviceCommandsAndUniversalMessages) {
    Bytes m(6);
    protocol::BuildCompletionNotice(m.data(), kDev);
    EXPECT_EQ(m, Hex("F0 52 00 6E 02 F7"));
    protocol::BuildDeviceCommand(m.data(), kDev, 0x05);
    EXPECT_EQ(m, Hex("F0 52 00 6E 05 F7"));
    protocol::BuildUniversalMessage(m.data(), 0x01);
    EXPECT_EQ(m, IdentityRequest());
}

}  // namespace
}  // namespace tq5::test
