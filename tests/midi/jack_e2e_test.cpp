// End to end through a real MIDI server: a private jackd (dummy backend) started here,
// tq5-devsim on it, and the updater's transport over the RtMidi driver. Identity exchange,
// one 4,700-byte write block out, its 4,096 bytes read back in a reply of about 4,700 bytes,
// and the device's own report of its flash; then the server stopping to answer and dying
// under a send. Skips only when jackd is not installed.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "child_process.hpp"
#include "engine/seams/firmware_images.hpp"
#include "midi/drivers/jack/jack_backend.hpp"
#include "protocol/codec.hpp"
#include "protocol/messages.hpp"
#include "support/bytes.hpp"
#include "support/jack_server.hpp"
#include "transport_harness.hpp"
#include "wait_until.hpp"

namespace tq5::midi {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

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
        if (test::JackServer::Jackd().empty()) return;
        // Synchronous mode with a long client time-out: on a loaded machine (sanitizers,
        // parallel builds) a client that is late delays the cycle instead of losing its MIDI.
        server_ = new test::JackServer(TQ5_JACK_SERVER_NAME, TempPath("jackd.log"),
                                       {"--sync", "--timeout", "5000"}, 1024);
        server_->Start(setupError_);
    }

    static void TearDownTestSuite() {
        delete server_;  // SIGTERM to its pid; cleaned up under its name if it ended uncleanly
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
        if (server_ == nullptr) GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(setupError_.empty()) << setupError_;
        stateFile_ = TempPath("state.txt");
        StartDevsim();
        transport_ = std::make_unique<test::Transport>(backend_);
        OpenTransport();
    }

    void TearDown() override {
        transport_.reset();
        devsim_.Stop(5s);
        std::remove(stateFile_.c_str());
    }

    void StartDevsim() {
        client_ = "devsim" + Pid();
        ASSERT_TRUE(devsim_.Start(
            {TQ5_DEVSIM_PATH, "--api", "jack", "--client-name", client_, "--id", "6E:00:07:00",
             "--mode", "flash-writing", "--erased", "--state-file", stateFile_},
            TempPath("devsim.log")));
        ASSERT_TRUE(devsim_.WaitForLine("tq5-devsim ready", 10s))
            << devsim_.Output() << ReadFile(TempPath("devsim.log"));
    }

    // The device's two ports, as the lists show them now.
    std::int32_t DeviceOutput() { return FindDevice(transport_->out, client_, "TQ-5 in"); }
    std::int32_t DeviceInput() { return FindDevice(transport_->in, client_, "TQ-5 out"); }

    void OpenTransport() {
        const std::int32_t out = DeviceOutput();
        const std::int32_t in = DeviceInput();
        ASSERT_GE(out, 0);
        ASSERT_GE(in, 0);
        ASSERT_TRUE(transport_->Open(out, in));
    }

    std::int32_t Identify() {
        std::array<std::uint8_t, protocol::kIdentityRequestLength> request{};
        protocol::BuildIdentityRequest(request.data());
        return transport_->Exchange(request.data(), request.size(), kReplyWaitMs);
    }

    static inline std::string setupError_;
    static inline test::JackServer* server_ = nullptr;

    JackBackend backend_{"tq5-test"};
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

// CPU time the calling thread has used so far.
std::chrono::microseconds ThreadCpu() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

TEST_F(JackEndToEnd, ASendToAServerThatStopsAnsweringEndsAtItsBoundOrWhenThePortCloses) {
    ASSERT_EQ(Identify(), 0);
    const test::Bytes request = test::Hex("F0 7E 00 06 01 F7");
    const auto size = static_cast<std::uint32_t>(request.size());

    // Close on another thread ends a send that waits for cycles that do not come.
    server_->Freeze();
    std::this_thread::sleep_for(200ms);  // a cycle under way when it stopped has ended
    auto sending = std::async(std::launch::async, [&] {
        const auto cpuBefore = ThreadCpu();
        const auto started = Clock::now();
        const int sent = transport_->out.SendLong(request.data(), size);
        return std::tuple(sent, ThreadCpu() - cpuBefore, Clock::now() - started);
    });
    ASSERT_EQ(sending.wait_for(500ms), std::future_status::timeout) << "the send did not wait";
    const auto closing = Clock::now();
    std::thread closer([&] { transport_->out.Close(); });
    ASSERT_EQ(sending.wait_for(3s), std::future_status::ready) << "Close did not end the send";
    const double endedAfterClose = MsSince(closing);
    const auto [sent, cpu, waited] = sending.get();
    server_->Thaw();
    closer.join();
    EXPECT_EQ(sent, 0);
    // What the wait cost (a spinning send burns all of it): a figure, which a busy machine
    // moves, so it is printed rather than bounded.
    std::printf("send ended %.1f ms after Close; %.1f ms of CPU in %.0f ms of waiting\n",
                endedAfterClose, cpu.count() / 1000.0,
                std::chrono::duration<double, std::milli>(waited).count());

    // A send on a port with a short bound gives up at it; while the client is still not
    // processed, the next one fails at once; once it is, sends go through again.
    MidiOutPort quick(backend_.CreateOutput(), 300);
    const std::int32_t out = DeviceOutput();
    ASSERT_GE(out, 0);
    ASSERT_EQ(quick.Open(out), 1);
    ASSERT_EQ(quick.SendLong(request.data(), size), 1);
    // A cycle the server had already started still runs in our client, late on a loaded
    // machine, and takes a message; 200 ms leaves it time to end.
    server_->Freeze();
    std::this_thread::sleep_for(200ms);
    auto started = Clock::now();
    EXPECT_EQ(quick.SendLong(request.data(), size), 0);
    const double firstMs = MsSince(started);
    started = Clock::now();
    EXPECT_EQ(quick.SendLong(request.data(), size), 0);
    const double secondMs = MsSince(started);
    server_->Thaw();
    EXPECT_GE(firstMs, 300.0);
    EXPECT_LT(secondMs, 300.0) << "the second send waited for the bound again";
    std::printf("stalled server: first send gave up after %.1f ms, the second after %.1f ms\n",
                firstMs, secondMs);
    EXPECT_TRUE(test::WaitUntil([&] { return quick.SendLong(request.data(), size) == 1; }));
}

TEST_F(JackEndToEnd, ADeadServerFailsSendsAtOnceAndAServerStartedAgainIsFound) {
    ASSERT_EQ(Identify(), 0);
    const test::Bytes request = test::Hex("F0 7E 00 06 01 F7");
    server_->Kill();
    std::this_thread::sleep_for(100ms);  // the client's shutdown notice comes on its own thread
    const auto started = Clock::now();
    EXPECT_EQ(transport_->out.SendLong(request.data(), static_cast<std::uint32_t>(request.size())),
              0);
    const double sendMs = MsSince(started);
    EXPECT_LT(sendMs, 1000.0) << "the send waited for a server that is gone";
    std::printf("send to a dead server failed after %.1f ms\n", sendMs);

    // The same backend finds a server of the same name started again. (The process's
    // clients of the dead server close before anything of it meets the new one.)
    transport_->out.Close();
    transport_->in.Close();
    std::string error;
    ASSERT_TRUE(server_->Start(error)) << error;
    devsim_.Stop(5s);
    StartDevsim();
    OpenTransport();
    EXPECT_EQ(Identify(), 0);
}

}  // namespace
}  // namespace tq5::midi
