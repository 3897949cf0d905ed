// tq5-updater end to end through a real MIDI server: a private jackd (dummy backend) started
// here, tq5-devsim on it as the TQ-5, and the command line choosing the device's ports by
// name. Skips only when jackd is not installed.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/seams/firmware_images.hpp"
#include "firmware/embedded_firmware.hpp"
#include "midi/child_process.hpp"
#include "midi/drivers/jack/jack_backend.hpp"
#include "midi/wait_until.hpp"
#include "report_keys.hpp"
#include "run_program.hpp"
#include "support/jack_server.hpp"
#include "temp_folder.hpp"

namespace tq5::app {
namespace {

using namespace std::chrono_literals;

std::string ImageVersion(const engine::VersionField& field) {
    std::uint8_t text[5] = {};
    EXPECT_TRUE(engine::ReadImageBytes(firmware::EmbeddedFirmware(), field.imageId,
                                       field.imageOffset, 4, text));
    return reinterpret_cast<const char*>(text);
}

class CliJackTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (test::JackServer::Jackd().empty()) return;
        temp_ = new test::TempFolder("tq5-cli-jack");
        ::setenv("XDG_RUNTIME_DIR", temp_->Path().c_str(), 1);  // instance locks of our own
        ::setenv("XDG_STATE_HOME", temp_->Path().c_str(), 1);   // and reports
        // Short periods keep the stop-and-wait exchanges quick; synchronous mode makes a late
        // client delay the cycle rather than lose its MIDI.
        server_ = new test::JackServer(TQ5_JACK_SERVER_NAME, (temp_->Path() / "jackd.log").string(),
                                       {"--sync", "--timeout", "5000"}, 128);
        server_->Start(setupError_);
    }

    static void TearDownTestSuite() {
        delete server_;  // ended by its pid, cleaned up under its name if it ended uncleanly
        server_ = nullptr;
        delete temp_;
        temp_ = nullptr;
    }

    void SetUp() override {
        if (server_ == nullptr) GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(setupError_.empty()) << setupError_;
        client_ = "tq5dev" + std::to_string(::getpid());
        StartDevice(devsim_, {"--client-name", client_});
    }

    void TearDown() override {
        server_->Thaw();
        devsim_.Stop(5s);
    }

    void StartDevice(test::ChildProcess& device, std::vector<std::string> options) {
        std::vector<std::string> args{TQ5_DEVSIM_PATH, "--api", "jack"};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_TRUE(device.Start(args, (temp_->Path() / "devsim.log").string()));
        ASSERT_TRUE(device.WaitForLine("tq5-devsim ready", 10s)) << device.Output();
    }

    // The device's ports by a part of their names (JACK may number the device's second
    // client, so the client name is left out).
    static std::vector<std::string> Args(const std::string& command) {
        return {"--api", "jack", "--out", "TQ-5 in", "--in", "TQ-5 out", command};
    }
    test::ProgramResult Run(const std::string& command) {
        std::vector<std::string> args = Args(command);
        return test::RunProgram(TQ5_UPDATER_PATH, args);
    }

    static inline std::string setupError_;
    static inline test::JackServer* server_ = nullptr;
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

// On JACK no port carries a preferred name: with none named, the ports are asked. One TQ-5 is
// marked and used; two end with exit status 2.
TEST_F(CliJackTest, WithNoPortNamedTheTq5IsFoundByAskingThePorts) {
    const auto ports = test::RunProgram(TQ5_UPDATER_PATH, {"--api", "jack", "ports"});
    EXPECT_NE(ports.out.find(client_ + ":TQ-5 out  [TQ-5 with MIDI out "), std::string::npos)
        << ports.out;
    const auto one = test::RunProgram(TQ5_UPDATER_PATH, {"--api", "jack", "version"});
    EXPECT_EQ(one.exitCode, 0) << one.err;
    EXPECT_NE(one.err.find("a TQ-5 answered on MIDI out "), std::string::npos) << one.err;

    test::ChildProcess second;
    StartDevice(second, {"--client-name", client_ + "b"});
    const auto two = test::RunProgram(TQ5_UPDATER_PATH, {"--api", "jack", "update"});
    EXPECT_EQ(two.exitCode, 2) << two.err;
    EXPECT_NE(two.err.find("2 TQ-5s answered; choose one with --out and --in:"), std::string::npos)
        << two.err;
    second.Stop(5s);
}

TEST_F(CliJackTest, LongAndHostilePortNamesAreListedWholeEscapedAndChosenByName) {
    // Two devices whose names agree for far more than the dialog's 39 bytes, one of them with
    // terminal escape sequences in its ports' names.
    const std::string longName =
        "tq5dev-" + std::to_string(::getpid()) + "-with-a-client-name-that-runs-past-forty-";
    test::ChildProcess first;
    test::ChildProcess second;
    StartDevice(first, {"--client-name", longName + "A"});
    StartDevice(second, {"--client-name", longName + "B", "--port-name", "TQ-5 \x1b[2J\x1b[31m"});

    const auto ports = test::RunProgram(TQ5_UPDATER_PATH, {"--api", "jack", "ports"});
    EXPECT_EQ(ports.exitCode, 0) << ports.err;
    EXPECT_NE(ports.out.find("  " + longName + "A:TQ-5 out  [TQ-5 with"), std::string::npos)
        << ports.out;
    EXPECT_NE(ports.out.find(longName + "B:TQ-5 \\x1B[2J\\x1B[31m out  [TQ-5 with"),
              std::string::npos)
        << ports.out;
    EXPECT_EQ(ports.out.find('\x1b'), std::string::npos) << "a raw escape reached the terminal";

    // Chosen by their whole names: the first as listed, the second as printed.
    const auto chosenFirst =
        test::RunProgram(TQ5_UPDATER_PATH, {"--api", "jack", "--out", longName + "A-01:TQ-5 in",
                                            "--in", longName + "A:TQ-5 out", "version"});
    EXPECT_EQ(chosenFirst.exitCode, 0) << chosenFirst.err;
    EXPECT_NE(chosenFirst.err.find("\"" + longName + "A-01:TQ-5 in\""), std::string::npos)
        << chosenFirst.err;
    const auto chosenSecond = test::RunProgram(
        TQ5_UPDATER_PATH, {"--api", "jack", "--out", longName + "B-01:TQ-5 \\x1B[2J\\x1B[31m in",
                           "--in", longName + "B:TQ-5 \\x1B[2J\\x1B[31m out", "version"});
    EXPECT_EQ(chosenSecond.exitCode, 0) << chosenSecond.err;
    EXPECT_EQ(chosenSecond.err.find('\x1b'), std::string::npos) << chosenSecond.err;
    first.Stop(5s);
    second.Stop(5s);
}

// CPU time that a process has used so far, in clock ticks.
long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');  // the program's name may hold blanks
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

struct Ending {
    int status = -1;
    double seconds = 0;
    double cpuPercent = 0;  // of one core, while it waited
};

// Waits for `updater` to end after an event at `since`, sampling its CPU time on the way.
Ending AwaitEnd(test::ChildProcess& updater, std::chrono::steady_clock::time_point since,
                std::chrono::seconds bound) {
    Ending ending;
    const long firstTicks = CpuTicks(updater.Pid());
    long lastTicks = firstTicks;
    auto lastSample = std::chrono::steady_clock::now();
    while (updater.IsRunning() && std::chrono::steady_clock::now() - since < bound) {
        const long ticks = CpuTicks(updater.Pid());
        if (ticks >= 0) {
            lastTicks = ticks;
            lastSample = std::chrono::steady_clock::now();
        }
        std::this_thread::sleep_for(20ms);
    }
    ending.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
    const double sampled = std::chrono::duration<double>(lastSample - since).count();
    if (sampled > 0.5) {
        ending.cpuPercent = 100.0 * (lastTicks - firstTicks) / ::sysconf(_SC_CLK_TCK) / sampled;
    }
    ending.status = updater.Stop(5s);
    return ending;
}

using test::ReadText;

TEST_F(CliJackTest, AServerThatDiesWhileWritingEndsTheUpdateWithTheTimeOutMessage) {
    const std::string errPath = (temp_->Path() / "updater.err").string();
    const std::string reportPath = (temp_->Path() / "report.txt").string();
    test::ChildProcess updater;
    std::vector<std::string> args{TQ5_UPDATER_PATH, "--report", reportPath};
    const std::vector<std::string> rest = Args("update");
    args.insert(args.end(), rest.begin(), rest.end());
    ASSERT_TRUE(updater.Start(args, errPath));
    ASSERT_TRUE(updater.WaitForLine("7/10  writing 283088 bytes", 60s))
        << updater.Output() << ReadText(errPath);

    server_->Kill();
    const auto killed = std::chrono::steady_clock::now();
    // Each of a block's 32 attempts waits 1000 ms for its answer and 100 ms before the next.
    const Ending ending = AwaitEnd(updater, killed, 60s);
    const std::string err = ReadText(errPath);
    std::string error;
    ASSERT_TRUE(server_->Start(error)) << error;  // for the tests that follow

    ASSERT_TRUE(WIFEXITED(ending.status)) << ending.status << "\n" << err;
    EXPECT_EQ(WEXITSTATUS(ending.status), 1) << err;
    EXPECT_NE(err.find("Error: Time out error(2)"), std::string::npos) << err;
    EXPECT_LT(ending.seconds, 32 * 1.1 + 10) << err;
    // Its CPU while it waited is a figure (bench/idle_poll_bench measures the wait's cost): a
    // bound on it fails on a busy machine.
    // The report says where and why, and what the writing met after the server went.
    const test::Keys keys = test::ReportKeys(ReadText(reportPath));
    EXPECT_EQ(keys.at("midi.system"), "JACK");
    EXPECT_EQ(keys.at("midi.out.chosen-by"), "named");
    EXPECT_EQ(keys.at("outcome.phase"), "write");
    const std::string cause = keys.at("outcome.cause");
    EXPECT_TRUE(cause == "timed-out" || cause == "send-failed") << cause;
    const test::Keys write = test::Fields(keys.at("phase.write"));
    EXPECT_GE(std::stoi(write.at("timeouts")) + std::stoi(write.at("send-failures")), 32);
    EXPECT_GE(std::stoi(write.at("resends")), 31);
    std::printf("server killed while writing: exit %d after %.1f s, %.1f%% CPU while waiting\n",
                WEXITSTATUS(ending.status), ending.seconds, ending.cpuPercent);
}

// Ctrl-C while the server does not answer at all (stopped, not ended): before anything was
// opened, libjack's open waits without end; during an update, nothing more comes back.
TEST_F(CliJackTest, CtrlCEndsTheProgramWhileTheServerDoesNotAnswer) {
    const std::string errPath = (temp_->Path() / "updater.err").string();
    std::vector<std::string> args{TQ5_UPDATER_PATH};
    const std::vector<std::string> rest = Args("update");
    args.insert(args.end(), rest.begin(), rest.end());
    struct Row {
        const char* what;
        bool freezeFirst;  // before the updater starts, or once it erases
        std::string said;
    };
    const std::vector<Row> rows = {
        {"server stopped before the updater started", true,
         "interrupted before the TQ-5's flash was changed; run `tq5-updater update` again"},
        {"server stopped during the first erase", false,
         "The TQ-5 was left in the middle of its update; run `tq5-updater update` again"},
    };
    for (const Row& row : rows) {
        test::ChildProcess updater;
        if (row.freezeFirst) server_->Freeze();
        ASSERT_TRUE(updater.Start(args, errPath)) << row.what;
        if (row.freezeFirst) {
            // Ctrl-C is the program's to handle (a busy machine may take long to get it
            // there), then libjack's open has had time to begin its wait.
            ASSERT_TRUE(updater.WaitUntilCatching(SIGINT, 60s)) << row.what << ReadText(errPath);
            std::this_thread::sleep_for(500ms);
        } else {
            ASSERT_TRUE(updater.WaitForLine("1/10  erasing 4096 bytes", 60s))
                << row.what << updater.Output() << ReadText(errPath);
            server_->Freeze();
            std::this_thread::sleep_for(200ms);
        }
        ASSERT_TRUE(updater.IsRunning()) << row.what << ReadText(errPath);
        updater.Signal(SIGINT);
        const auto signalled = std::chrono::steady_clock::now();
        const Ending ending = AwaitEnd(updater, signalled, 10s);
        server_->Thaw();
        const std::string err = ReadText(errPath);
        ASSERT_TRUE(WIFEXITED(ending.status)) << row.what << ": " << ending.status << "\n" << err;
        EXPECT_EQ(WEXITSTATUS(ending.status), 130) << row.what << "\n" << err;
        EXPECT_NE(err.find(row.said), std::string::npos) << row.what << "\n" << err;
        EXPECT_LT(ending.seconds, 3.0) << row.what;
        std::printf("%s: exit %d %.2f s after Ctrl-C\n", row.what, WEXITSTATUS(ending.status),
                    ending.seconds);
    }
}

}  // namespace
}  // namespace tq5::app
