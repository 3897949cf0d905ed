// The command line's own logic: parsing, choosing ports, following an update's progress.

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/cli/cli_options.hpp"
#include "app/cli/port_choice.hpp"
#include "app/cli/progress_tracker.hpp"
#include "firmware/memory_firmware_store.hpp"
#include "firmware/program_version.hpp"

namespace tq5::app::cli {
namespace {

ParseResult Parse(std::vector<std::string> args) {
    std::vector<const char*> argv{"tq5-updater"};
    for (const auto& arg : args) argv.push_back(arg.c_str());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// --- parsing --------------------------------------------------------------------------------

TEST(CliOptions, OptionsMayComeBeforeOrAfterTheCommand) {
    for (const auto& args : {std::vector<std::string>{"--simulate", "--device-mode", "normal",
                                                      "update"},
                             std::vector<std::string>{"update", "--simulate", "--device-mode",
                                                      "normal"}}) {
        const ParseResult parsed = Parse(args);
        ASSERT_TRUE(parsed.options) << parsed.output;
        EXPECT_EQ(parsed.options->command, Command::Update);
        EXPECT_TRUE(parsed.options->simulate);
        EXPECT_EQ(parsed.options->deviceMode, sim::DeviceMode::Normal);
    }
}

TEST(CliOptions, PortsApiAndDeviceId) {
    const ParseResult parsed =
        Parse({"--in", "2", "--out", "VARN", "--simulate", "--device-id", "6E000600", "version"});
    ASSERT_TRUE(parsed.options) << parsed.output;
    EXPECT_EQ(parsed.options->command, Command::Version);
    EXPECT_EQ(parsed.options->inPort, "2");
    EXPECT_EQ(parsed.options->outPort, "VARN");
    EXPECT_EQ(parsed.options->deviceId, (protocol::DeviceId{0x6E, 0x00, 0x06, 0x00}));
    EXPECT_EQ(Parse({"--api", "jack", "ports"}).options->api, MidiApi::Jack);
}

TEST(CliOptions, BadUsageEndsWithExitTwoAndTheUsageLine) {
    const std::vector<std::vector<std::string>> bad = {
        {},                                          // no command
        {"update", "version"},                       // two commands
        {"--bogus", "update"},                       // unknown option
        {"--api", "coreaudio", "ports"},             // unknown MIDI system
        {"--device-mode", "normal", "update"},       // a device option without --simulate
        {"--simulate", "--device-mode", "x", "update"},
        {"--simulate", "--device-id", "6E00", "update"},
        {"--simulate", "--device-id", "8E000500", "update"},  // not a MIDI data byte
        {"--simulate", "--api", "alsa", "update"},
        {"update", "--in"},  // option without its value
    };
    for (const auto& args : bad) {
        const ParseResult parsed = Parse(args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_FALSE(parsed.options) << joined;
        EXPECT_EQ(parsed.exitCode, kExitUsage) << joined;
        EXPECT_TRUE(parsed.toStderr) << joined;
        EXPECT_NE(parsed.output.find("Usage: tq5-updater"), std::string::npos) << joined;
    }
}

TEST(CliOptions, HelpGoesToStdoutWithSuccess) {
    const ParseResult parsed = Parse({"--help"});
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.exitCode, kExitSuccess);
    EXPECT_FALSE(parsed.toStderr);
    EXPECT_NE(parsed.output.find("update"), std::string::npos);
}

TEST(CliOptions, VersionGoesToStdoutWithSuccessWithOrWithoutACommand) {
    for (const auto& args : {std::vector<std::string>{"--version"},
                             std::vector<std::string>{"update", "--version"}}) {
        const ParseResult parsed = Parse(args);
        EXPECT_FALSE(parsed.options);
        EXPECT_EQ(parsed.exitCode, kExitSuccess);
        EXPECT_FALSE(parsed.toStderr);
        EXPECT_EQ(parsed.output, engine::ProgramVersionText("tq5-updater") + "\n");
    }
}

TEST(CliOptions, DeviceIds) {
    EXPECT_EQ(ParseDeviceId("6e000700"), (protocol::DeviceId{0x6E, 0x00, 0x07, 0x00}));
    EXPECT_FALSE(ParseDeviceId("6E0007000"));
    EXPECT_FALSE(ParseDeviceId("6E00070G"));
    EXPECT_FALSE(ParseDeviceId("+6E00070"));
    EXPECT_FALSE(ParseDeviceId("6E0007FF"));
}

// --- choosing ports ---------------------------------------------------------------------------

const std::vector<std::string> kPorts = {"Midi Through Port-0", "USB Audio Device",
                                         "VARN TQ Series", "VARN TQ Series (2)"};

std::int32_t Choose(const std::string& wanted, int instance = 1) {
    const PortChoice choice = ChoosePort(kPorts, wanted, instance, "output", "--out");
    return choice.error.empty() ? choice.index : -100;
}

TEST(PortChoice, DefaultsToTheInstancesPreferredPort) {
    EXPECT_EQ(Choose(""), 2);  // the last preferred entry
    EXPECT_EQ(Choose("", 2), 3);
}

TEST(PortChoice, NoPreferredPortNamesThePortsCommand) {
    const PortChoice choice = ChoosePort(kPorts, "", 3, "output", "--out");
    EXPECT_EQ(choice.index, -1);
    EXPECT_NE(choice.error.find("tq5-updater ports"), std::string::npos);
    EXPECT_NE(choice.error.find("--out"), std::string::npos);
}

TEST(PortChoice, IndexThenExactNameThenUniquePart) {
    EXPECT_EQ(Choose("0"), 0);
    EXPECT_EQ(Choose("VARN TQ Series"), 2);  // exact, although it is part of entry 3 too
    EXPECT_EQ(Choose("Through"), 0);
    EXPECT_EQ(Choose("(2)"), 3);
}

TEST(PortChoice, RefusesWhatIsMissingOrAmbiguous) {
    for (const std::string wanted : {"4", "99999999999", "Nothing", "VARN", "USB Audio Device (5)"}) {
        const PortChoice choice = ChoosePort(kPorts, wanted, 1, "output", "--out");
        EXPECT_EQ(choice.index, -1) << wanted;
        EXPECT_NE(choice.error.find("tq5-updater ports"), std::string::npos) << wanted;
    }
    const PortChoice ambiguous = ChoosePort(kPorts, "VARN", 1, "output", "--out");
    EXPECT_NE(ambiguous.error.find("2 \"VARN TQ Series\""), std::string::npos);
    EXPECT_NE(ambiguous.error.find("3 \"VARN TQ Series (2)\""), std::string::npos);
}

// --- progress ---------------------------------------------------------------------------------

// Images of the shipped sizes whose bytes do not matter here.
engine::MemoryFirmwareStore SizedImages() {
    engine::MemoryFirmwareStore store;
    store.Set(engine::kImageMain, std::vector<std::uint8_t>(283088));
    store.Set(engine::kImagePreset, std::vector<std::uint8_t>(4096));
    store.Set(engine::kImageData, std::vector<std::uint8_t>(3297280));
    store.Set(engine::kImageSystem, std::vector<std::uint8_t>(4096));
    store.Set(engine::kImageBoot, std::vector<std::uint8_t>(204800));
    return store;
}

constexpr std::int64_t kAllBytes = 283088 + 4096 + 3297280 + 4096 + 204800;

// Plays one row of the plan as the flash steps report it.
void PlayRow(ProgressTracker& p, int row, std::int32_t bytes) {
    p.OnCounter(std::to_string(row) + "/10");
    if (bytes == 0) {  // an erase
        p.OnRange(10);
        p.OnPosition(1);
        p.OnStatus("Erasing Flash memory.");
        p.OnPosition(10);
        return;
    }
    p.OnRange(bytes);
    for (std::int32_t offset = 0; offset < bytes; offset += 4096) {
        p.OnStatus("Data transmit  " + std::to_string(offset) + " / " + std::to_string(bytes) +
                   " ");
        p.OnPosition(std::min(offset + 4096, bytes));
    }
}

TEST(ProgressTracker, CountsTheBytesOfTheWholePlan) {
    const auto images = SizedImages();
    const auto start = ProgressTracker::Clock::now();
    ProgressTracker p(images, start);
    PlayRow(p, 1, 0);
    PlayRow(p, 2, 0);
    PlayRow(p, 3, 4096);
    EXPECT_NEAR(p.Done(), 4096.0 / kAllBytes, 1e-9);
    PlayRow(p, 4, 0);
    PlayRow(p, 5, 204800);
    PlayRow(p, 6, 0);
    p.OnCounter("7/10");
    p.OnRange(283088);
    p.OnPosition(4096);
    EXPECT_NEAR(p.Done(), (4096.0 + 204800 + 4096) / kAllBytes, 1e-9);
    EXPECT_TRUE(p.InWriteRow());
    PlayRow(p, 7, 283088);
    PlayRow(p, 8, 0);
    PlayRow(p, 9, 3297280);
    PlayRow(p, 10, 4096);
    EXPECT_DOUBLE_EQ(p.Done(), 1.0);
}

TEST(ProgressTracker, ASkippedBootWriteLeavesTheTotal) {
    const auto images = SizedImages();
    ProgressTracker p(images, ProgressTracker::Clock::now());
    PlayRow(p, 3, 4096);
    p.OnCounter("4/10");  // the boot rows pass without a word
    p.OnCounter("5/10");
    p.OnCounter("6/10");
    EXPECT_NEAR(p.Done(), 4096.0 / (kAllBytes - 204800), 1e-9);
}

TEST(ProgressTracker, TheLineShowsRowStatusBytesPercentAndTimes) {
    const auto images = SizedImages();
    const auto start = ProgressTracker::Clock::now();
    ProgressTracker p(images, start);
    p.OnCounter("9/10");
    p.OnRange(3297280);
    p.OnStatus("Data transmit  1646592 / 3297280 ");
    p.OnPosition(1650688);
    const double done = (1650688.0) / kAllBytes;
    const std::string line = p.Line(start + std::chrono::seconds(30));
    EXPECT_EQ(line.rfind("9/10  Data transmit  1646592 / 3297280   1650688/3297280 bytes", 0),
              0u)
        << line;
    EXPECT_NE(line.find(std::to_string(static_cast<int>(done * 100)) + "%"), std::string::npos);
    EXPECT_NE(line.find("0:30 elapsed"), std::string::npos) << line;
    const auto left = static_cast<long long>(30.0 * (1.0 - done) / done);
    EXPECT_NE(line.find(ProgressTracker::Duration(std::chrono::seconds(left)) + " left"),
              std::string::npos)
        << line;
}

TEST(ProgressTracker, NotableChangesForALog) {
    const auto images = SizedImages();
    ProgressTracker p(images, ProgressTracker::Clock::now());
    EXPECT_TRUE(p.OnCounter("1/10"));
    EXPECT_TRUE(p.OnStatus("Erasing Flash memory."));
    p.OnCounter("2/10");
    EXPECT_TRUE(p.OnStatus("Erasing Flash memory."));  // same text, new row
    p.OnCounter("3/10");
    EXPECT_TRUE(p.OnRange(4096));  // a write begins
    EXPECT_TRUE(p.OnStatus("Data transmit  0 / 4096 "));
    EXPECT_FALSE(p.OnStatus("Data transmit  4096 / 8192 "));  // only the numbers changed
    EXPECT_TRUE(p.OnPosition(4096));                           // the write is done
    EXPECT_FALSE(p.OnStatus(""));
}

TEST(ProgressTracker, Durations) {
    EXPECT_EQ(ProgressTracker::Duration(std::chrono::seconds(0)), "0:00");
    EXPECT_EQ(ProgressTracker::Duration(std::chrono::seconds(65)), "1:05");
    EXPECT_EQ(ProgressTracker::Duration(std::chrono::seconds(3600)), "60:00");
}

}  // namespace
}  // namespace tq5::app::cli
