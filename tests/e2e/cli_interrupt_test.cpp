// tq5-updater interrupted with Ctrl-C (SIGINT) at random moments of a simulated update: the
// program ends promptly with the message that the TQ-5 was left in the middle of its update
// and exit code 130, or, when the update had already finished, with success. Under the
// sanitizer builds the program is built with them too, so any report fails the run.
//
// TQ5_INTERRUPT_RUNS sets the number of runs (default 30).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "app/temp_folder.hpp"
#include "midi/child_process.hpp"

namespace tq5::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kMidUpdate =
    "tq5-updater: interrupted. The TQ-5 was left in the middle of its update; run "
    "`tq5-updater update` again to complete it.\n";

int EnvInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool HasSanitizerReport(const std::string& text) {
    return text.find("Sanitizer") != std::string::npos ||
           text.find("runtime error:") != std::string::npos;
}

TEST(CliInterrupt, CtrlCAtAnyMomentOfAnUpdateEndsItPromptlyWithTheMidUpdateMessage) {
    const int runs = EnvInt("TQ5_INTERRUPT_RUNS", 30);
    test::TempFolder temp("tq5-interrupt");
    ASSERT_FALSE(temp.Path().empty());
    // Instance locks of our own: other updaters on the machine leave our number alone.
    ::setenv("XDG_RUNTIME_DIR", temp.Path().c_str(), 1);
    ::setenv("XDG_STATE_HOME", temp.Path().c_str(), 1);  // and reports of our own
    const std::string errPath = (temp.Path() / "stderr.txt").string();
    std::mt19937 draw(11);

    int interrupted = 0;
    int finished = 0;
    Clock::duration slowest{};
    for (int run = 0; run < runs; ++run) {
        const std::string where = "run " + std::to_string(run) + ": ";
        test::ChildProcess updater;
        ASSERT_TRUE(updater.Start({TQ5_UPDATER_PATH, "--simulate", "update"}, errPath));
        // The first row's line: the update is under way and Ctrl-C is the program's to handle.
        ASSERT_TRUE(updater.WaitForLine("0/10  asking the TQ-5 into its update mode", 60s))
            << where << updater.Output() << ReadFile(errPath);
        // A simulated update runs about 0.6 s from here (0.5 s of it the pause after the
        // device entered its update mode); a few moments fall after its end.
        std::this_thread::sleep_for(std::chrono::milliseconds(draw() % 700));

        updater.Signal(SIGINT);
        const auto signalled = Clock::now();
        while (updater.IsRunning() && Clock::now() - signalled < 30s) {
            std::this_thread::sleep_for(1ms);
        }
        const Clock::duration ending = Clock::now() - signalled;
        slowest = std::max(slowest, ending);
        const int status = updater.Stop(5s);
        const std::string err = ReadFile(errPath);

        EXPECT_LT(ending, 10s) << where << "the program did not end after Ctrl-C";
        EXPECT_FALSE(HasSanitizerReport(err)) << where << err;
        ASSERT_TRUE(WIFEXITED(status)) << where << "ended by a signal: " << status << "\n" << err;
        if (WEXITSTATUS(status) == 130) {
            ++interrupted;
            EXPECT_NE(err.find(kMidUpdate), std::string::npos) << where << err;
        } else {
            ++finished;  // the update had completed before the signal was looked at
            EXPECT_EQ(WEXITSTATUS(status), 0) << where << err;
            EXPECT_EQ(err.find("interrupted"), std::string::npos) << where << err;
        }
    }
    std::cout << "Ctrl-C at random: " << interrupted << " interrupted, " << finished
              << " had finished; slowest end after the signal "
              << std::chrono::duration<double, std::milli>(slowest).count() << " ms\n";
    EXPECT_GT(interrupted, runs / 2);
}

}  // namespace
}  // namespace tq5::e2e
