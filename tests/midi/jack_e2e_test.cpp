// End to end through a real MIDI server: a private jackd (dummy backend) started here,
// tq5-devsim on it, and the updater's transport over the RtMidi driver. Identity exchange,
// one 4,700-byte write block out, its 4,096 bytes read back in a reply of about 4,700 bytes,
// and the device's own report of its flash. Skips only when jackd is not installed.

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "engine/firmware_images.hpp"
#include "midi/drivers/rtmidi/rtmidi_backend.hpp"
#include "protocol/codec.hpp"
#include "protocol/messages.hpp"
#include "transport_harness.hpp"
#include "wait_until.hpp"

namespace tq5::midi {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kReplyWaitMs = 10000;  // generous: only catches a lost reply
constexpr protocol::DeviceId kDevsimId{0x6E, 0x00, 0x07, 0x00};
constexpr std::uint32_t kBlockAddress = 0x33000;  // start of the main image's region

std::string Pid() { return std::to_string(::getpid()); }

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The index of the first device whose name contains both parts, or -1.
template <typename Port>
std::int32_t FindDevice(Port& port, const std::string& client, const std::string& portName) {
    const std::uint32_t count = port.GetDeviceCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string name = port.GetDeviceName(i);
        if (name.find(client) != std::string::npos && name.find(portName) != std::string::npos) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}

class JackEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        jackd_ = test::FindInPath("jackd");
        if (jackd_.empty()) return;
        // This process's clients and the children all find the private server by name.
        serverName_ = "tq5-test-" + Pid();
        ::setenv("JACK_DEFAULT_SERVER", serverName_.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        ::setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        server_ = new test::ChildProcess();
        const std::string log = TempPath("jackd.log");
        // Synchronous mode with a long client time-out: on a loaded machine (sanitizers,
        // parallel builds) a client that is late delays the cycle instead of losing its MIDI.
        if (!server_->Start({jackd_, "--no-realtime", "--sync", "--name", serverName_,
                             "--timeout", "5000", "-d", "dummy", "--rate", "48000", "--period",
                             "1024"},
                            log)) {
            setupError_ = "jackd could not be started";
            return;
        }
        if (!test::WaitUntil(
                [] { return !server_->IsRunning() || RtMidiBackend::IsReachable(RtMidiSystem::Jack); },
                10s) ||
            !server_->IsRunning()) {
            setupError_ = "jackd did not come up:\n" + ReadFile(log);
        }
    }

    static void TearDownTestSuite() {
        delete server_;  // SIGTERM to its pid, SIGKILL if it lingers
        server_ = nullptr;
        if (!::testing::UnitTest::GetInstance()->Failed()) {
            std::remove(TempPath("jackd.log").c_str());
            std::remove(TempPath("devsim.log").c_str());
        }
    }

    static std::string TempPath(const std::string& name) {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir != nullptr ? dir : "/tmp") + "/tq5-jack-" + Pid() + "-" + name;
    }

    void SetUp() override {
        if (jackd_.empty()) GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(setupError_.empty()) << setupError_;

        client_ = "devsim" + Pid();
        stateFile_ = TempPath("state.txt");
        ASSERT_TRUE(devsim_.Start({TQ5_DEVSIM_PATH, "--api", "jack", "--client-name", client_,
                                   "--id", "6E:00:07:00", "--mode", "flash-writing",
                                   "--erased", "--state-file", stateFile_},
                                  TempPath("devsim.log")));
        ASSERT_TRUE(devsim_.WaitForLine("tq5-devsim ready", 10s))
            << devsim_.Output() << ReadFile(TempPath("devsim.log"));

        transport_ = std::make_unique<test::Transport>(backend_);
        const std::int32_t out = FindDevice(transport_->out, client_, "TQ-5 in");
        const std::int32_t in = FindDevice(transport_->in, client_, "TQ-5 out");
        ASSERT_GE(out, 0);
        ASSERT_GE(in, 0);
        ASSERT_TRUE(transport_->Open(out, in));
    }

    void TearDown() override {
        transport_.reset();
        devsim_.Stop(5s);
        std::remove(stateFile_.c_str());
    }

    std::int32_t Identify() {
        std::array<std::uint8_t, protocol::kIdentityRequestLength> request{};
        protocol::BuildIdentityRequest(request.data());
        return transport_->Exchange(request.data(), request.size(), kReplyWaitMs);
    }

    static inline std::string jackd_;
    static inline std::string serverName_;
    static inline std::string setupError_;
    static inline test::ChildProcess* server_ = nullptr;

    RtMidiBackend backend_{RtMidiSystem::Jack, "tq5-test"};
    std::string client_;
    std::string stateFile_;
    test::ChildProcess devsim_;
    std::unique_ptr<test::Transport> transport_;
};

TEST_F(JackEndToEnd, AnIdentityRequestGetsTheDevicesReply) {
    ASSERT_EQ(Identify(), 0);
    EXPECT_EQ(transport_->context.ReportedDeviceId(), kDevsimId);
}

TEST_F(JackEndToEnd, AWriteBlockGoesOutAndItsBytesComeBackInOneReadReply) {
    ASSERT_EQ(Identify(), 0);
    transport_->context.SetCurrentDeviceId(transport_->context.ReportedDeviceId());
    const std::uint8_t deviceByte = transport_->context.DeviceByte();

    std::vector<std::uint8_t> data(protocol::kMaxBlockBytes);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
    std::vector<std::uint8_t> block(protocol::kMaxWriteBlockRequestLength);
    const std::size_t blockLength = protocol::BuildWriteBlockRequest(
        block.data(), deviceByte, data.data(), kBlockAddress, protocol::kMaxBlockBytes);
    ASSERT_EQ(blockLength, 4700u);
    ASSERT_EQ(transport_->Exchange(block.data(), blockLength, kReplyWaitMs), 0);

    std::array<std::uint8_t, protocol::kReadMemoryRequestLength> read{};
    protocol::BuildReadMemoryRequest(read.data(), deviceByte, kBlockAddress,
                                     protocol::kMaxBlockBytes);
    transport_->context.ResetReadCount();
    ASSERT_EQ(transport_->Exchange(read.data(), read.size(), kReplyWaitMs), 0);
    std::vector<std::uint8_t> readBack(data.size());
    ASSERT_TRUE(transport_->context.CopyReadData(readBack.data(), readBack.size()));
    EXPECT_EQ(readBack, data);

    // The device's own report: the main image's region holds the block and erased flash.
    constexpr engine::ImageRegion kMain = engine::kImageRegions[2];
    static_assert(kMain.address == kBlockAddress);
    std::vector<std::uint8_t> region(kMain.eraseSize, 0xFF);
    std::copy(data.begin(), data.end(), region.begin());
    char expected[16];
    std::snprintf(expected, sizeof expected, "CRC 0x%08X",
                  protocol::ComputeCrc32(region.data(), region.size()));
    devsim_.Signal(SIGUSR1);
    EXPECT_TRUE(test::WaitUntil(
        [&] { return ReadFile(stateFile_).find(expected) != std::string::npos; }, 10s))
        << ReadFile(stateFile_);
}

TEST_F(JackEndToEnd, TheDeviceEndsCleanlyOnSigtermAndReportsItsFlash) {
    const int status = devsim_.Stop(10s);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string state = ReadFile(stateFile_);
    EXPECT_NE(state.find("boot version:"), std::string::npos) << state;
    EXPECT_NE(state.find("region of image 136"), std::string::npos) << state;
}

}  // namespace
}  // namespace tq5::midi
