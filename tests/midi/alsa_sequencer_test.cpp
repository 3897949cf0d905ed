// The ALSA sequencer driver through the real kernel sequencer. These machines have none, so
// the tests skip here and run in the guest kernel (tools/guest/run-in-guest.sh, CTest label
// "guest"). Messages leave through the output driver to the kernel's "Midi Through" port and
// come back through the input driver; tq5-devsim on the sequencer answers the transport as
// the updater assembles it.

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "engine/seams/firmware_images.hpp"
#include "midi/drivers/alsa/alsa_backend.hpp"
#include "midi/midi_in_port.hpp"
#include "midi/midi_out_port.hpp"
#include "protocol/codec.hpp"
#include "protocol/device_messages.hpp"
#include "protocol/messages.hpp"
#include "support/bytes.hpp"
#include "transport_harness.hpp"
#include "wait_until.hpp"

namespace tq5::midi {
namespace {

using namespace std::chrono_literals;
using test::Bytes;

const std::string kThrough = "Midi Through:Midi Through Port-0";

// F0, `length` - 2 data bytes that differ from their neighbours, F7.
Bytes SysEx(std::size_t length, std::uint8_t seed) {
    Bytes message(length);
    message.front() = 0xF0;
    for (std::size_t i = 1; i + 1 < length; ++i) {
        message[i] = static_cast<std::uint8_t>((i * 31 + seed) & 0x7F);
    }
    message.back() = 0xF7;
    return message;
}

template <typename Port>
std::int32_t FindDevice(Port& port, const std::string& part) {
    const std::uint32_t count = port.GetDeviceCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        if (port.GetDeviceName(i).find(part) != std::string::npos) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}

// Takes every queued entry, waiting until `count` have come (or the bound has passed).
std::vector<Bytes> Take(MidiInPort& in, std::size_t count) {
    test::WaitUntil([&] { return in.QueuedCount() >= count; }, 10s);
    std::vector<Bytes> blocks;
    std::size_t length = 0;
    while (const std::uint8_t* bytes = in.PeekReceived(&length)) {
        blocks.emplace_back(bytes, bytes + length);
        in.PopReceived();
    }
    return blocks;
}

// A bare alsa-lib client with one port and the kernel's default input pool, for what the
// drivers must cope with from other programs.
class PlainClient {
public:
    PlainClient() {
        if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) seq_ = nullptr;
        if (seq_ == nullptr) return;
        snd_seq_set_client_name(seq_, "tq5-plain");
        port_ = snd_seq_create_simple_port(
            seq_, "plain",
            SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }
    ~PlainClient() {
        if (seq_ != nullptr) snd_seq_close(seq_);
    }
    bool Ready() const { return seq_ != nullptr && port_ >= 0; }

    // Sends one event straight to the kernel's through port.
    bool SendPiece(const Bytes& bytes) {
        snd_seq_event_t event = Event();
        snd_seq_ev_set_sysex(&event, static_cast<unsigned int>(bytes.size()),
                             const_cast<std::uint8_t*>(bytes.data()));
        return snd_seq_event_output_direct(seq_, &event) >= 0;
    }
    bool SendClock() {
        snd_seq_event_t event = Event();
        event.type = SND_SEQ_EVENT_CLOCK;
        return snd_seq_event_output_direct(seq_, &event) >= 0;
    }
    bool SendNoteOn() {
        snd_seq_event_t event = Event();
        snd_seq_ev_set_noteon(&event, 0, 60, 100);
        return snd_seq_event_output_direct(seq_, &event) >= 0;
    }

private:
    snd_seq_event_t Event() const {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, static_cast<unsigned char>(port_));
        snd_seq_ev_set_dest(&event, 14, 0);  // "Midi Through Port-0", client 14 port 0
        snd_seq_ev_set_direct(&event);
        return event;
    }

    snd_seq_t* seq_ = nullptr;
    int port_ = -1;
};

class AlsaSequencerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!AlsaBackend::Open()) GTEST_SKIP() << "no ALSA sequencer (/dev/snd/seq)";
        throughOut_ = FindDevice(out_, kThrough);
        throughIn_ = FindDevice(in_, kThrough);
        ASSERT_GE(throughOut_, 0);
        ASSERT_GE(throughIn_, 0);
    }

    bool OpenThrough() {
        in_.SetDeviceIndex(throughIn_);
        return out_.Open(throughOut_) == 1 && in_.Open() == 1;
    }
    int Send(const Bytes& message) {
        return out_.SendLong(message.data(), static_cast<std::uint32_t>(message.size()));
    }

    AlsaBackend backend_{"tq5-test"};
    MidiOutPort out_{backend_.CreateOutput()};
    MidiInPort in_{backend_.CreateInput()};
    std::int32_t throughOut_ = -1;
    std::int32_t throughIn_ = -1;
};

TEST_F(AlsaSequencerTest, ListsPortsByClientPortAndAddressAndRefusesOthers) {
    EXPECT_EQ(in_.GetDeviceName(static_cast<std::uint32_t>(throughIn_)), kThrough + " 14:0");
    EXPECT_EQ(out_.GetDeviceName(static_cast<std::uint32_t>(throughOut_)), kThrough + " 14:0");
    EXPECT_EQ(out_.Open(-1), 0);
    EXPECT_EQ(out_.Open(static_cast<std::int32_t>(out_.GetDeviceCount())), 0);
    in_.SetDeviceIndex(-1);
    EXPECT_EQ(in_.Open(), 0);
}

// Each message waits for the one before it, as the protocol's exchanges do. Up to 8,192
// bytes a message is one entry; a longer one comes as entries of 8,192 bytes, only the
// first starting with F0. 8,192 bytes take more than the kernel's default input pool.
TEST_F(AlsaSequencerTest, MessagesUpToTheLargestArriveWholeAndLongerOnesInBlocks) {
    ASSERT_TRUE(OpenThrough());
    struct Case {
        std::size_t length;
        std::size_t blocks;
    };
    for (const Case c :
         {Case{6, 1}, Case{4700, 1}, Case{8192, 1}, Case{8193, 2}, Case{20000, 3}, Case{4700, 1}}) {
        SCOPED_TRACE(c.length);
        const Bytes message = SysEx(c.length, static_cast<std::uint8_t>(c.length));
        ASSERT_EQ(Send(message), 1);
        const std::vector<Bytes> blocks = Take(in_, c.blocks);
        ASSERT_EQ(blocks.size(), c.blocks);
        Bytes joined;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_LE(blocks[i].size(), kInputBlockSize);
            EXPECT_EQ(blocks[i].front() == 0xF0, i == 0);
            joined.insert(joined.end(), blocks[i].begin(), blocks[i].end());
        }
        EXPECT_EQ(joined, message);
    }
}

// Other programs and kernel ports cut messages into several events and put clock and
// active sensing between them; a channel message ends an unfinished SysEx message.
TEST_F(AlsaSequencerTest, PiecesAreJoinedPastRealTimeEventsAndCutByOtherMessages) {
    ASSERT_TRUE(OpenThrough());
    PlainClient sender;
    ASSERT_TRUE(sender.Ready());
    ASSERT_TRUE(sender.SendPiece(test::Hex("F0 01 02")));
    ASSERT_TRUE(sender.SendClock());
    ASSERT_TRUE(sender.SendPiece(test::Hex("03 04 F7")));
    ASSERT_TRUE(sender.SendPiece(test::Hex("F0 05")));
    ASSERT_TRUE(sender.SendNoteOn());
    ASSERT_TRUE(sender.SendPiece(test::Hex("06 F7")));  // the rest of a lost message
    ASSERT_TRUE(sender.SendNoteOn());
    ASSERT_TRUE(sender.SendPiece(test::Hex("F0 07 F8 08 F7")));
    const std::vector<Bytes> blocks = Take(in_, 2);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], test::Hex("F0 01 02 03 04 F7"));
    EXPECT_EQ(blocks[1], test::Hex("F0 07 08 F7"));
}

// A receiver with the kernel's default pool can never take 8,192 bytes in one event: the
// send says so at once, and the next message that fits still goes out (no refused event
// stays queued in front of it).
TEST_F(AlsaSequencerTest, ARefusedMessageFailsItsSendAndBlocksNoLaterOne) {
    PlainClient receiver;
    ASSERT_TRUE(receiver.Ready());
    const std::int32_t plain = FindDevice(out_, "tq5-plain:plain");
    ASSERT_GE(plain, 0);
    ASSERT_EQ(out_.Open(plain), 1);
    EXPECT_EQ(Send(SysEx(8192, 1)), 0);
    EXPECT_EQ(Send(SysEx(4700, 2)), 1);
    EXPECT_EQ(Send(SysEx(6, 3)), 1);
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The updater's transport against tq5-devsim on the sequencer: a 4,700-byte write block
// out, and a read reply of exactly 8,192 bytes (7,153 data bytes) back in one entry.
TEST(AlsaDevsimTest, AWriteBlockGoesOutAndAnEightKilobyteReadReplyComesBack) {
    if (!AlsaBackend::Open()) GTEST_SKIP() << "no ALSA sequencer (/dev/snd/seq)";
    const std::string client = "alsa-devsim-" + std::to_string(::getpid());
    const std::string state = "/tmp/" + client + ".state";
    test::ChildProcess devsim;
    ASSERT_TRUE(
        devsim.Start({TQ5_DEVSIM_PATH, "--api", "alsa", "--client-name", client, "--id",
                      "6E:00:07:00", "--mode", "flash-writing", "--erased", "--state-file", state},
                     "/tmp/" + client + ".log"));
    ASSERT_TRUE(devsim.WaitForLine("tq5-devsim ready", 10s)) << devsim.Output();

    AlsaBackend backend("tq5-test");
    test::Transport transport(backend);
    const std::int32_t out = FindDevice(transport.out, client + ":TQ-5 in");
    const std::int32_t in = FindDevice(transport.in, client + ":TQ-5 out");
    ASSERT_TRUE(transport.Open(out, in));

    std::array<std::uint8_t, protocol::kIdentityRequestLength> identity{};
    protocol::BuildIdentityRequest(identity.data());
    ASSERT_EQ(transport.Exchange(identity.data(), identity.size(), 10000), 0);
    transport.context.SetCurrentDeviceId(transport.context.ReportedDeviceId());
    const std::uint8_t deviceByte = transport.context.DeviceByte();

    constexpr engine::ImageRegion kMain = engine::kImageRegions[2];
    Bytes data(protocol::kMaxBlockBytes);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
    Bytes block(protocol::kMaxWriteBlockRequestLength);
    const std::size_t blockLength = protocol::BuildWriteBlockRequest(
        block.data(), deviceByte, data.data(), kMain.address, protocol::kMaxBlockBytes);
    ASSERT_EQ(blockLength, 4700u);
    ASSERT_EQ(transport.Exchange(block.data(), blockLength, 10000), 0);

    constexpr std::uint32_t kReadBytes = 7153;
    static_assert(protocol::kReadReplyOverhead + 7153 + 1022 == kInputBlockSize);
    ASSERT_EQ(protocol::ReadMemoryReplyLength(kReadBytes), kInputBlockSize);
    std::array<std::uint8_t, protocol::kReadMemoryRequestLength> read{};
    protocol::BuildReadMemoryRequest(read.data(), deviceByte, kMain.address, kReadBytes);
    transport.context.ResetReadCount();
    ASSERT_EQ(transport.Exchange(read.data(), read.size(), 10000), 0);
    Bytes expected(kReadBytes, 0xFF);  // the block, then erased flash
    std::copy(data.begin(), data.end(), expected.begin());
    Bytes readBack(kReadBytes);
    ASSERT_TRUE(transport.context.CopyReadData(readBack.data(), readBack.size()));
    EXPECT_EQ(readBack, expected);

    // The device's own report agrees: its region holds the block and erased flash.
    Bytes region(kMain.eraseSize, 0xFF);
    std::copy(data.begin(), data.end(), region.begin());
    char crc[16];
    std::snprintf(crc, sizeof crc, "CRC 0x%08X",
                  protocol::ComputeCrc32(region.data(), region.size()));
    devsim.Signal(SIGUSR1);
    EXPECT_TRUE(
        test::WaitUntil([&] { return ReadFile(state).find(crc) != std::string::npos; }, 10s))
        << ReadFile(state);
    devsim.Stop(5s);
    std::remove(state.c_str());
}

}  // namespace
}  // namespace tq5::midi
