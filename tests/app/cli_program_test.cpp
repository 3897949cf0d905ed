// tq5-updater as a user runs it: exit codes, what goes to stdout and stderr, Ctrl-C, instance
// numbers. Every run gets a runtime folder of its own, so it never meets a real instance.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/instance_number.hpp"
#include "app/posix/posix_named_locks.hpp"
#include "engine/seams/firmware_images.hpp"
#include "firmware/embedded_firmware.hpp"
#include "midi/drivers/alsa/alsa_backend.hpp"
#include "run_program.hpp"
#include "temp_folder.hpp"

namespace tq5::app {
namespace {

namespace fs = std::filesystem;
using test::ProgramResult;
using test::RunProgram;

class CliProgramTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(runtime_.empty()); }

    ProgramResult Run(const std::vector<std::string>& args, const test::SignalWhen& when = {}) {
        return RunProgram(TQ5_UPDATER_PATH, args,
                          {{"XDG_RUNTIME_DIR", runtime_.string()},
                           {"XDG_STATE_HOME", runtime_.string()},  // reports of failed updates
                           // A server name no JACK runs under: the tests never meet a real one.
                           {"JACK_DEFAULT_SERVER", "tq5-test-absent"}},
                          when);
    }

    test::TempFolder temp_{"tq5-cli"};
    const fs::path& runtime_ = temp_.Path();
};

std::string ImageVersion(const engine::VersionField& field) {
    std::uint8_t text[5] = {};
    EXPECT_TRUE(engine::ReadImageBytes(firmware::EmbeddedFirmware(), field.imageId,
                                       field.imageOffset, 4, text));
    return reinterpret_cast<const char*>(text);
}

void ExpectNoCrashText(const ProgramResult& r) {
    for (const char* text : {"terminate", "what()", "Aborted", "Sanitizer", "RtMidi"}) {
        EXPECT_EQ(r.err.find(text), std::string::npos) << r.err;
    }
}

TEST_F(CliProgramTest, SimulatedUpdateCompletes) {
    const ProgramResult r = Run({"--simulate", "update"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("10/10  Version update completed."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("9/10  writing 3297280 bytes"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("MIDI out 0 \"VARN TQ Series\", MIDI in 0 \"VARN TQ Series\""),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("Error"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find('\r'), std::string::npos);  // plain lines, not a terminal
}

TEST_F(CliProgramTest, SimulatedVersionCheckPrintsThreeLines) {
    const ProgramResult r = Run({"version", "--simulate"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // The virtual TQ-5 runs an older system; boot and preset match the images.
    EXPECT_EQ(r.out, "SYSTEM:\t\t1.05 -> " + ImageVersion(engine::kSystemVersion) +
                         "\nPRESET:\t\t" + ImageVersion(engine::kPresetVersion) + "\nBOOT:\t\t" +
                         ImageVersion(engine::kBootVersion) + "\n");
}

TEST_F(CliProgramTest, ADeviceInNormalModeIsReportedAsFailure) {
    const ProgramResult r = Run({"--simulate", "--device-mode", "normal", "update"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Error: Please use the firmware update mode."), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("completed"), std::string::npos);
}

TEST_F(CliProgramTest, AForeignDeviceIdIsRefused) {
    const ProgramResult r = Run({"--simulate", "--device-id", "6E000600", "version"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Error: Illegal device connected."), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
}

TEST_F(CliProgramTest, BadUsageExitsTwoWithTheUsageLine) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--frobnicate", "update"}, {}, {"--device-mode", "normal", "update"}}) {
        const ProgramResult r = Run(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("Usage: tq5-updater"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(CliProgramTest, APortThatIsNotThereIsBadUsage) {
    const ProgramResult r = Run({"--simulate", "--out", "3", "update"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("there is no MIDI output 3"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("tq5-updater ports"), std::string::npos);
}

TEST_F(CliProgramTest, PortsMarksThePreferredPortAndWhereATq5Answered) {
    const ProgramResult r = Run({"--simulate", "ports"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("MIDI inputs:\n  0  VARN TQ Series  [preferred, TQ-5 with MIDI out 0, "
                         "default]\nMIDI outputs:\n  0  VARN TQ Series  [preferred, TQ-5 with "
                         "MIDI in 0, default]\nA TQ-5 answered:\n  MIDI out 0 \"VARN TQ "
                         "Series\", MIDI in 0 \"VARN TQ Series\"\n"),
              std::string::npos)
        << r.out;
}

// No port named and none with a preferred name: the ports are asked who is a TQ-5.
TEST_F(CliProgramTest, WithoutAPreferredNameTheTq5IsFoundByAskingThePorts) {
    const ProgramResult found = Run({"--simulate", "--device-port", "TQ Series MIDI 1", "update"});
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_NE(found.err.find("a TQ-5 answered on MIDI out 0 and MIDI in 0."), std::string::npos);
    const ProgramResult other =
        Run({"--simulate", "--device-port", "Synth", "--device-id", "41001900", "version"});
    EXPECT_EQ(other.exitCode, 2) << other.err;
    EXPECT_NE(other.err.find("no TQ-5 answered the identity request (asked 1 MIDI output, "
                             "listened on 1 MIDI input).\n  not a TQ-5 (device id 41 00 19 00): "
                             "MIDI out 0 \"Synth\", MIDI in 0 \"Synth\"\nConnect the TQ-5"),
              std::string::npos)
        << other.err;
}

TEST_F(CliProgramTest, ASecondInstanceUsesItsNumberedPorts) {
    PosixNamedLocks running(runtime_ / "tq5-updater");
    ASSERT_EQ(ClaimInstanceNumber(running), 1);
    const ProgramResult r = Run({"--simulate", "version"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("VARN TQ-5 System v1.10 Updater (2): MIDI out 0 \"VARN TQ Series (2)\""),
              std::string::npos)
        << r.err;
}

TEST_F(CliProgramTest, ATwentyFirstInstanceIsRefused) {
    PosixNamedLocks running(runtime_ / "tq5-updater");
    for (int n = 1; n <= kMaxInstances; ++n) ASSERT_EQ(ClaimInstanceNumber(running), n);
    const ProgramResult r = Run({"--simulate", "ports"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("It is forbidden to launch more than 20 instance of this application."),
              std::string::npos)
        << r.err;
}

TEST_F(CliProgramTest, AnUnusableLockFolderIsNamedBesideTheRefusal) {
    // A file where the lock folder belongs: no number can be claimed at all.
    std::FILE* blocker = std::fopen((runtime_ / "tq5-updater").c_str(), "w");
    ASSERT_NE(blocker, nullptr);
    std::fclose(blocker);
    const ProgramResult r = Run({"--simulate", "ports"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("It is forbidden to launch more than 20 instance of this application."),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find((runtime_ / "tq5-updater").string() + ", which is not a folder"),
              std::string::npos)
        << r.err;
}

TEST_F(CliProgramTest, BrokenLockFilesAreNamedBesideTheRefusal) {
    PosixNamedLocks running(runtime_ / "tq5-updater");
    for (int n = 1; n <= kMaxInstances; ++n) {
        const fs::path file =
            runtime_ / "tq5-updater" / PosixNamedLocks::LockFileName(InstanceTitle(n));
        if (n % 5 == 0) {
            fs::create_directory(file);  // numbers 5, 10, 15, 20 can never be had
        } else {
            ASSERT_TRUE(running.TryTake(InstanceTitle(n)));
        }
    }
    const ProgramResult r = Run({"--simulate", "ports"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("It is forbidden to launch more than 20 instance of this application."),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("4 instance lock file(s) can't be used"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(PosixNamedLocks::LockFileName(InstanceTitle(20)) + ": a folder"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find(PosixNamedLocks::LockFileName(InstanceTitle(19))), std::string::npos)
        << "a number held by an instance is not broken: " << r.err;
}

// How the updater ends when it is told to stop, or when its output goes away, at several
// moments of a simulated update and a version check.
TEST_F(CliProgramTest, SignalsAndAClosedOutputAtEveryPhase) {
    const std::string midUpdate =
        "tq5-updater: interrupted. The TQ-5 was left in the middle of its update; run "
        "`tq5-updater update` again to complete it.\n";
    const std::string runAgain = "run `tq5-updater update` again";
    const std::string erasing = "1/10  erasing ";
    const std::string portsOpen = "MIDI out 0 \"VARN TQ Series\"";  // printed just before
    const auto seen = [](std::string text, int signal, int times = 1) {
        return test::SignalWhen{std::move(text), signal, {}, times, false};
    };
    struct Row {
        const char* what;
        std::string command;
        test::SignalWhen when;
        int exitCode;
        std::string said;  // in stderr
    };
    // clang-format off
    const std::vector<Row> rows = {
        {"Ctrl-C during the first erase", "update", seen(erasing, SIGINT), 130, midUpdate},
        {"SIGTERM during the first erase", "update", seen(erasing, SIGTERM), 130, midUpdate},
        {"SIGHUP (terminal closed) during the first erase", "update", seen(erasing, SIGHUP), 130,
         midUpdate},
        {"SIGHUP while writing", "update", seen("9/10  writing", SIGHUP), 130, midUpdate},
        {"Ctrl-C twice", "update", seen(erasing, SIGINT, 2), 130, midUpdate},
        {"Ctrl-C while the ports open", "update", {{}, SIGINT, portsOpen, 1, false}, 130, runAgain},
        {"stdout closed after the first line (| head -1)", "update",
         {erasing, SIGINT, {}, 1, true}, 0, ""},
    };
    // clang-format on
    double slowest = 0;
    for (const Row& row : rows) {
        const ProgramResult r = Run({"--simulate", row.command}, row.when);
        if (!row.when.closeStdout) slowest = std::max(slowest, r.msAfterSignal);
        EXPECT_EQ(r.killedBy, 0) << row.what << ": the signal's own action ended it";
        EXPECT_EQ(r.exitCode, row.exitCode) << row.what << "\n" << r.out << r.err;
        if (!row.said.empty()) {
            EXPECT_NE(r.err.find(row.said), std::string::npos) << row.what << "\n" << r.err;
        }
        // One notice, even when a second signal or the watcher could have added one.
        const std::size_t notice = r.err.find("tq5-updater: interrupted");
        if (row.exitCode == 130) {
            EXPECT_EQ(r.err.find("tq5-updater: interrupted", notice + 1), std::string::npos)
                << row.what << "\n"
                << r.err;
        } else {
            EXPECT_EQ(notice, std::string::npos) << row.what << "\n" << r.err;
        }
        EXPECT_EQ(r.out.find("completed"), std::string::npos) << row.what;
        EXPECT_EQ(r.err.find("Error:"), std::string::npos) << row.what << "\n" << r.err;
        EXPECT_LT(r.msAfterSignal, 5000) << row.what << ": the program did not end";
        ExpectNoCrashText(r);
    }
    std::printf("slowest end after a signal: %.1f ms\n", slowest);
}

TEST_F(CliProgramTest, WithoutAMidiSystemPortsListsNothing) {
    if (midi::AlsaBackend::Open()) {
        GTEST_SKIP() << "this machine has an ALSA sequencer";
    }
    const ProgramResult ports = Run({"ports"});
    EXPECT_EQ(ports.exitCode, 0) << ports.err;
    EXPECT_NE(ports.out.find("no MIDI system found"), std::string::npos) << ports.out;
    EXPECT_EQ(ports.out.find("MIDI inputs:"), std::string::npos);
    EXPECT_EQ(ports.err, "");  // none of the MIDI libraries' own complaints

    for (const char* command : {"update", "version"}) {
        const ProgramResult r = Run({command});
        EXPECT_EQ(r.exitCode, 1) << command;
        EXPECT_NE(r.err.find("no MIDI system found"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--simulate"), std::string::npos);
        ExpectNoCrashText(r);
    }
    const ProgramResult jack = Run({"--api", "jack", "update"});
    EXPECT_EQ(jack.exitCode, 1);
    EXPECT_NE(jack.err.find("no JACK server is running"), std::string::npos) << jack.err;
    ExpectNoCrashText(jack);
}

}  // namespace
}  // namespace tq5::app
