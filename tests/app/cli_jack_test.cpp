// tq5-updater end to end through a real MIDI server: a private jackd (dummy backend) started
// here, tq5-devsim on it as the TQ-5, and the command line choosing the device's ports by
// name. Skips only when jackd is not installed.

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/firmware_images.hpp"
#include "firmware/embedded_firmware.hpp"
#include "midi/child_process.hpp"
#include "midi/drivers/rtmidi/rtmidi_backend.hpp"
#include "midi/wait_until.hpp"
#include "run_program.hpp"
#include "temp_folder.hpp"

namespace tq5::app {
namespace {

using namespace std::chrono_literals;

std::string ImageVersion(const engine::VersionField& field) {
    std::uint8_t text[5] = {};
    engine::ReadImageBytes(engine::EmbeddedFirmware(), field.imageId, field.imageOffset, 4, text);
    return reinterpret_cast<const char*>(text);
}

class CliJackTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        jackd_ = test::FindInPath("jackd");
        if (jackd_.empty()) return;
        temp_ = new test::TempFolder("tq5-cli-jack");
        serverName_ = "tq5-cli-test-" + std::to_string(::getpid());
        // This process and its children find the private server by its name.
        ::setenv("JACK_DEFAULT_SERVER", serverName_.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        ::setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        ::setenv("XDG_RUNTIME_DIR", temp_->Path().c_str(), 1);  // instance locks of our own
        server_ = new test::ChildProcess();
        // Short periods keep the stop-and-wait exchanges quick; synchronous mode makes a late
        // client delay the cycle rather than lose its MIDI.
        if (!server_->Start({jackd_, "--no-realtime", "--sync", "--name", serverName_,
                             "--timeout", "5000", "-d", "dummy", "--rate", "48000", "--period",
                             "128"},
                            (temp_->Path() / "jackd.log").string())) {
            setupError_ = "jackd could not be started";
            return;
        }
        if (!test::WaitUntil(
                [] {
                    return !server_->IsRunning() ||
                           midi::RtMidiBackend::IsReachable(midi::RtMidiSystem::Jack);
                },
                10s) ||
            !server_->IsRunning()) {
            setupError_ = "jackd did not come up";
        }
    }

    static void TearDownTestSuite() {
        delete server_;  // ended by its pid
        server_ = nullptr;
        delete temp_;
        temp_ = nullptr;
    }

    void SetUp() override {
        if (jackd_.empty()) GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(setupError_.empty()) << setupError_;
        client_ = "tq5dev" + std::to_string(::getpid());
        ASSERT_TRUE(devsim_.Start({TQ5_DEVSIM_PATH, "--api", "jack", "--client-name", client_},
                                  (temp_->Path() / "devsim.log").string()));
        ASSERT_TRUE(devsim_.WaitForLine("tq5-devsim ready", 10s)) << devsim_.Output();
    }

    void TearDown() override { devsim_.Stop(5s); }

    // The device's ports by a part of their names (JACK may number the device's second
    // client, so the client name is left out).
    test::ProgramResult Run(const std::string& command) {
        return test::RunProgram(TQ5_UPDATER_PATH,
                                {"--api", "jack", "--out", "TQ-5 in", "--in", "TQ-5 out", command});
    }

    static inline std::string jackd_;
    static inline std::string serverName_;
    static inline std::string setupError_;
    static inline test::ChildProcess* server_ = nullptr;
    static inline test::TempFolder* temp_ = nullptr;

    std::string client_;
    test::ChildProcess devsim_;
};

TEST_F(CliJackTest, PortsListsTheDevicesPorts) {
    const auto r = test::RunProgram(TQ5_UPDATER_PATH, {"--api", "jack", "ports"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("MIDI system: JACK"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("0  " + client_ + ":TQ-5 out"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(":TQ-5 in"), std::string::npos) << r.out;
}

TEST_F(CliJackTest, VersionThenUpdateThenVersionAgain) {
    const std::string system = ImageVersion(engine::kSystemVersion);
    const std::string tail = "\nPRESET:\t\t" + ImageVersion(engine::kPresetVersion) +
                             "\nBOOT:\t\t" + ImageVersion(engine::kBootVersion) + "\n";

    const auto before = Run("version");
    ASSERT_EQ(before.exitCode, 0) << before.err;
    EXPECT_EQ(before.out, "SYSTEM:\t\t1.05 -> " + system + tail);

    const auto update = Run("update");
    ASSERT_EQ(update.exitCode, 0) << update.out << update.err;
    EXPECT_NE(update.out.find("Version update completed."), std::string::npos);

    const auto after = Run("version");
    ASSERT_EQ(after.exitCode, 0) << after.err;
    EXPECT_EQ(after.out, "SYSTEM:\t\t" + system + " -> " + system + tail);
}

}  // namespace
}  // namespace tq5::app
