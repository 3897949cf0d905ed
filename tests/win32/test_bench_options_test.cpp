// The test bench's command line: what a test can ask of the virtual TQ-5, and that a typo in
// a window test's command line stops the bench instead of running a different device.

#include <gtest/gtest.h>

#include "tests/win32/test_bench_options.hpp"

namespace tq5::test {
namespace {

std::optional<TestBenchOptions> Parse(std::vector<std::string> args, std::string* error = nullptr) {
    std::string message;
    auto options = ParseTestBenchOptions(args, message);
    if (error != nullptr) *error = message;
    return options;
}

TEST(TestBenchOptionsTest, DefaultsAreAnUpdateReadyDeviceThatTakesAFewSeconds) {
    const auto options = Parse({});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->device.mode, sim::DeviceMode::UpdateReady);
    EXPECT_EQ(options->device.firmware.systemVersion, "1.05");
    EXPECT_EQ(options->device.timing.writeMsPerBlock, 2u);
    EXPECT_EQ(options->device.timing.eraseMsPerSector, 1u);
    EXPECT_EQ(options->device.timing.lineBytesPerSecond, 0u);
    EXPECT_TRUE(options->device.faults.empty());
    EXPECT_TRUE(options->exitReport.empty());
}

TEST(TestBenchOptionsTest, EveryOptionReachesTheDevice) {
    const auto options =
        Parse({"--mode", "normal", "--write-ms", "7", "--erase-ms", "0", "--line-rate", "3125",
               "--system-version", "0.99", "--fault", "write-block:36:delay-reply:600", "--fault",
               "finish:1:answer-status:5", "--exit-report", "C:\\out.txt"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->device.mode, sim::DeviceMode::Normal);
    EXPECT_EQ(options->device.timing.writeMsPerBlock, 7u);
    EXPECT_EQ(options->device.timing.eraseMsPerSector, 0u);
    EXPECT_EQ(options->device.timing.lineBytesPerSecond, 3125u);
    EXPECT_EQ(options->device.firmware.systemVersion, "0.99");
    ASSERT_EQ(options->device.faults.size(), 2u);
    EXPECT_EQ(options->device.faults[0].on, sim::RequestType::WriteBlock);
    EXPECT_EQ(options->device.faults[0].ordinal, 36u);
    EXPECT_EQ(options->device.faults[0].action, sim::FaultAction::DelayReply);
    EXPECT_EQ(options->device.faults[0].delayMs, 600u);
    EXPECT_EQ(options->device.faults[1].on, sim::RequestType::Finish);
    EXPECT_EQ(options->device.faults[1].status, 5);
    EXPECT_EQ(options->exitReport, "C:\\out.txt");
}

TEST(TestBenchOptionsTest, MistakesAreRefusedWithTheirReason) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--mode", "booted"}, "--mode"},
        {{"--write-ms", "-1"}, "not a count"},
        {{"--erase-ms", "2ms"}, "not a count"},
        {{"--line-rate", ""}, "not a count"},
        {{"--line-rate", "99999999999"}, "not a count"},
        {{"--fault", "write-block:x:drop-reply"}, "not a fault"},
        {{"--write-ms"}, "needs a value"},
        {{"--colour", "red"}, "unknown option --colour"},
        {{"stray"}, "unexpected stray"},
    };
    for (const auto& [args, reason] : cases) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error)) << args[0];
        EXPECT_NE(error.find(reason), std::string::npos) << args[0] << ": " << error;
    }
}

}  // namespace
}  // namespace tq5::test
