// tq5-devsim's command line and its state file: one table of what each option takes and what
// it refuses with exit code 2, and one of what the state file is written over and what it
// leaves alone.

#include "sim/devsim/devsim_options.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/temp_folder.hpp"
#include "sim/devsim/state_file.hpp"

namespace tq5::sim {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

std::optional<DevsimOptions> Parse(const std::vector<std::string>& args, int& exitCode) {
    std::vector<std::string> storage{"tq5-devsim"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : storage) argv.push_back(arg.data());
    exitCode = -1;
    return ParseDevsimOptions(static_cast<int>(argv.size()), argv.data(), exitCode);
}

class DevsimOptionsTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.empty());
        WriteFile(dir_ / "victim.txt", "precious");
        fs::create_directory(dir_ / "folder");
        ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
        fs::create_symlink(dir_ / "victim.txt", dir_ / "link");
        fs::create_symlink(dir_ / "nowhere.txt", dir_ / "dangling");
        WriteFile(dir_ / "old-state.txt", "an earlier report");
    }

    // Every name in the folder that a failed or finished write left behind.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(".", 0) == 0) names.push_back(name);
        }
        return names;
    }

    test::TempFolder temp_{"tq5-devsim-options"};
    const fs::path& dir_ = temp_.Path();
};

TEST_F(DevsimOptionsTest, EachOptionTakesWhatTheDeviceCanUseAndRefusesTheRestWithExitTwo) {
    struct Row {
        std::vector<std::string> args;
        bool accepted;
    };
    const std::string fresh = (dir_ / "state.txt").string();
    const std::vector<Row> rows = {
        {{}, true},
        {{"--time-scale", "0.001"}, true},
        {{"--time-scale", "1000"}, true},
        {{"--time-scale", "1e-9"}, true},
        {{"--time-scale", "nan"}, false},
        {{"--time-scale", "inf"}, false},
        {{"--time-scale", "-inf"}, false},
        {{"--time-scale", "1e308"}, false},
        {{"--time-scale", "1000.5"}, false},
        {{"--time-scale", "0"}, false},
        {{"--time-scale", "-1"}, false},
        {{"--time-scale", "fast"}, false},
        {{"--random-faults", "0"}, true},
        {{"--random-faults", "0.25"}, true},
        {{"--random-faults", "1"}, true},
        {{"--random-faults", "nan"}, false},
        {{"--random-faults", "-nan"}, false},
        {{"--random-faults", "inf"}, false},
        {{"--random-faults", "1e308"}, false},
        {{"--random-faults", "1.01"}, false},
        {{"--random-faults", "-0.1"}, false},
        {{"--state-file", fresh}, true},
        {{"--state-file", (dir_ / "old-state.txt").string()}, true},
        {{"--state-file", (dir_ / "folder").string()}, false},
        {{"--state-file", (dir_ / "fifo").string()}, false},
        {{"--state-file", (dir_ / "link").string()}, false},
        {{"--state-file", (dir_ / "dangling").string()}, false},
        {{"--state-file", (dir_ / "no-such-folder" / "state.txt").string()}, false},
        {{"--state-file", "/dev/null"}, false},
        {{"--state-file", ""}, false},
        {{"--id", "6E:00:05"}, false},
        {{"--api", "coreaudio"}, false},
        {{"--api", "rawmidi", "--device", "hw:0,0"}, true},
        {{"--api", "rawmidi"}, false},
        {{"--api", "alsa", "--device", "hw:0,0"}, false},
        {{"--bogus"}, false},
    };
    for (const Row& row : rows) {
        std::string joined;
        for (const auto& arg : row.args) joined += arg + " ";
        int exitCode = -1;
        const auto options = Parse(row.args, exitCode);
        EXPECT_EQ(options.has_value(), row.accepted) << joined;
        if (!row.accepted) {
            EXPECT_EQ(exitCode, 2) << joined;
        }
    }

    int exitCode = -1;
    const auto options = Parse({"--time-scale", "0.5", "--random-faults", "0.25"}, exitCode);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->device.timing.scale, 0.5);
    EXPECT_EQ(options->device.randomFaults.probability, 0.25);
    EXPECT_FALSE(Parse({"--help"}, exitCode));
    EXPECT_EQ(exitCode, 0);
}

TEST_F(DevsimOptionsTest, TheStateFileReplacesOnlyARegularFileAndNeverFollowsALink) {
    // A link planted where the old way of writing put its temporary file.
    fs::create_symlink(dir_ / "victim.txt", dir_ / "state.txt.partial");
    const bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        // A device node of our own (the null device's numbers): replacing it would be the
        // harm, and a test that fails must not touch /dev.
        ASSERT_EQ(::mknod((dir_ / "device").c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
    }
    struct Row {
        std::string target;
        bool written;
    };
    std::vector<Row> rows = {
        {"state.txt", true}, {"old-state.txt", true}, {"link", false},          {"dangling", false},
        {"folder", false},   {"fifo", false},         {"no-such/state", false},
    };
    if (asRoot) rows.push_back({"device", false});
    for (const Row& row : rows) {
        const fs::path target = dir_ / row.target;
        std::string problem;
        EXPECT_EQ(WriteStateFile(target.string(), "the report\n", problem), row.written)
            << row.target << ": " << problem;
        if (row.written) {
            EXPECT_EQ(ReadFile(target), "the report\n") << row.target;
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target))) << row.target;
        } else {
            EXPECT_FALSE(problem.empty()) << row.target;
        }
        EXPECT_TRUE(Leftovers().empty()) << row.target << ": " << Leftovers().front();
    }
    EXPECT_EQ(ReadFile(dir_ / "victim.txt"), "precious");
    EXPECT_FALSE(fs::exists(dir_ / "nowhere.txt"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
    EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
    EXPECT_TRUE(fs::is_fifo(dir_ / "fifo"));
    if (asRoot) {
        EXPECT_TRUE(fs::is_character_file(dir_ / "device"));
    }
}

}  // namespace
}  // namespace tq5::sim
