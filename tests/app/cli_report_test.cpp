// What tq5-updater leaves behind when an update goes wrong: the support report, read by its
// keys as a support tool reads it, and the JSON lines, each parsed by jq. The virtual TQ-5
// commits one fault per run.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report_keys.hpp"
#include "run_program.hpp"
#include "temp_folder.hpp"

namespace tq5::app {
namespace {

namespace fs = std::filesystem;
using test::Fields;
using test::Keys;
using test::ProgramResult;

constexpr const char* kJq = "/usr/bin/jq";

class CliReportTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(temp_.Path().empty()); }

    ProgramResult Run(std::vector<std::string> args) {
        return test::RunProgram(TQ5_UPDATER_PATH, args,
                                {{"XDG_RUNTIME_DIR", temp_.Path().string()},
                                 {"XDG_STATE_HOME", (temp_.Path() / "state").string()},
                                 {"JACK_DEFAULT_SERVER", "tq5-test-absent"}});
    }

    // Parses every line of `out` as JSON with jq and returns the last one, compact; jq's
    // error when a line is not one JSON object, or the last is not the outcome.
    std::string LastJsonLine(const std::string& out) {
        const std::string path = (temp_.Path() / "stdout.txt").string();
        std::ofstream(path) << out;
        const ProgramResult jq = test::RunProgram(
            kJq, {"-R", "-s", "-c", "-e",
                  "split(\"\\n\") | map(select(length > 0) | fromjson) | "
                  "if all(.[]; type == \"object\" and has(\"event\")) and "
                  ".[-1].event == \"outcome\" then .[-1] else error(\"not JSON lines\") end",
                  path});
        return jq.exitCode == 0 ? jq.out : "jq: " + jq.err;
    }

    test::TempFolder temp_{"tq5-report"};
};

struct FaultCase {
    const char* name;
    const char* fault;      // --device-fault
    Keys keys;              // of the report
    const char* phase;      // the per-step line that shows it (null: the outcome's step)
    Keys fields;            // of that line
    const char* flag;       // a flag that some exchange line carries
    const char* jsonCause;  // in the outcome line
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.fault; }

class FailedUpdates : public CliReportTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(FailedUpdates, LeaveAReportWhoseOutcomePhaseAndCountsMatchWhatHappened) {
    const FaultCase& c = GetParam();
    const ProgramResult r = Run({"--simulate", "--device-fault", c.fault, "--json", "update"});
    ASSERT_EQ(r.exitCode, 1) << r.err;

    // Written without being asked, to a new file in the report folder, and named on stderr.
    const fs::path folder = temp_.Path() / "state" / "tq5-updater";
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string().rfind("failed-update-", 0), 0u);
    EXPECT_NE(r.err.find("is in " + files[0].string()), std::string::npos) << r.err;

    const Keys keys = test::ReportKeys(test::ReadText(files[0].string()));
    for (const auto& [key, value] : c.keys) EXPECT_EQ(keys.at(key), value) << key;
    EXPECT_EQ(keys.at("outcome"), "failed");
    EXPECT_EQ(keys.at("exit-code"), "1");
    EXPECT_EQ(keys.at("device.id"), "6E000500");
    EXPECT_EQ(keys.at("midi.system"), "virtual TQ-5");
    EXPECT_EQ(keys.at("midi.device-gone"), "no");
    EXPECT_EQ(keys.at("midi.out.chosen-by"), "preferred");
    EXPECT_EQ(keys.count("computer.kernel"), 1u);
    EXPECT_EQ(Fields(keys.at("phase.identify")).at("requests"), "1");
    // No step named: the step the outcome names, with the surplus summed over every step.
    const Keys phase = Fields(
        keys.at(c.phase != nullptr ? std::string(c.phase) : "phase." + keys.at("outcome.phase")));
    for (const auto& [field, value] : c.fields) {
        if (c.phase != nullptr || field != "surplus") {
            EXPECT_EQ(phase.at(field), value) << field;
            continue;
        }
        int surplus = 0;
        for (const auto& [key, line] : keys) {
            if (key.rfind("phase.", 0) == 0) surplus += std::stoi(Fields(line).at("surplus"));
        }
        EXPECT_EQ(std::to_string(surplus), value) << field;
    }

    // The last exchanges, at most 100, numbered up to the count of all of them.
    const int total = std::stoi(keys.at("exchanges"));
    const int listed = std::stoi(keys.at("exchanges.listed"));
    EXPECT_EQ(listed, std::min(total, 100));
    bool flagged = false;
    for (int n = total - listed + 1; n <= total; ++n) {
        const Keys exchange = Fields(keys.at("exchange." + std::to_string(n)));
        EXPECT_EQ(exchange.size(), 9u) << n;
        flagged = flagged || exchange.at("flags").find(c.flag) != std::string::npos;
    }
    EXPECT_TRUE(flagged) << c.flag;

    if (::access(kJq, X_OK) != 0) return;  // tools/install-deps.sh installs it
    const std::string outcome = LastJsonLine(r.out);
    EXPECT_NE(outcome.find(std::string("\"cause\":\"") + c.jsonCause + "\""), std::string::npos)
        << outcome;
    EXPECT_NE(outcome.find("\"report\":\"" + files[0].string() + "\""), std::string::npos)
        << outcome;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Faults, FailedUpdates,
    testing::Values(
        FaultCase{"ARefusedBlock", "write-block:0:answer-status:5",
                  {{"outcome.phase", "write"}, {"outcome.cause", "device-status"},
                   {"outcome.status", "5"}, {"outcome.image", "133"}, {"read-back", "not-reached"}},
                  "phase.write",
                  {{"requests", "32"}, {"resends", "31"}, {"refusals", "32"},
                   {"refused-with", "5:32"}, {"surplus", "0"}},
                  "resend", "device-status"},
        // The second answer is surplus where it is seen: at once, or, when the next request
        // left before it was read, once the answers have run one ahead (at the next erase).
        FaultCase{"DuplicatedReplies", "write-block:3:duplicate-reply",
                  {{"outcome.cause", "duplicate-replies"}},
                  nullptr, {{"surplus", "1"}, {"refusals", "0"}, {"resends", "0"}},
                  "surplus", "duplicate-replies"},
        FaultCase{"AReadBackDifference", "write-block:7:answer-status:0",
                  {{"outcome.phase", "verify"}, {"outcome.cause", "mismatch"},
                   {"outcome.image", "129"}, {"outcome.address", "0x038000"},
                   {"read-back", "differs"}},
                  "phase.verify", {{"resends", "1"}, {"refusals", "0"}}, "resend", "mismatch"}),
    [](const testing::TestParamInfo<FaultCase>& p) { return std::string(p.param.name); });
// clang-format on

TEST_F(CliReportTest, JsonLinesOfAWholeUpdateEndWithItsOutcome) {
    if (::access(kJq, X_OK) != 0) GTEST_SKIP() << "jq is not installed";
    const ProgramResult r = Run({"--json", "--simulate", "update"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string outcome = LastJsonLine(r.out);
    EXPECT_EQ(outcome.rfind("{\"event\":\"outcome\",\"completed\":true", 0), 0u) << outcome;
    EXPECT_NE(r.out.find("{\"event\":\"read-back\",\"result\":\"verified\""), std::string::npos);
    // What a person reads went to stderr.
    EXPECT_NE(r.err.find("Version update completed."), std::string::npos) << r.err;
}

TEST_F(CliReportTest, AReportOnRequestAndOneThatCannotBeWrittenChangeNothing) {
    const std::string path = (temp_.Path() / "asked.txt").string();
    const ProgramResult asked = Run({"--simulate", "--report", path, "version"});
    EXPECT_EQ(asked.exitCode, 0) << asked.err;
    const Keys keys = test::ReportKeys(test::ReadText(path));
    EXPECT_EQ(keys.at("command"), "version");
    EXPECT_EQ(keys.at("outcome"), "completed");
    EXPECT_EQ(keys.at("device.system-version"), "1.05");
    EXPECT_EQ(Fields(keys.at("phase.versions")).at("requests"), "3");

    const ProgramResult unwritable =
        Run({"--simulate", "--report", (temp_.Path() / "none" / "r.txt").string(), "version"});
    EXPECT_EQ(unwritable.exitCode, 0);
    EXPECT_NE(unwritable.err.find("the report could not be written to"), std::string::npos)
        << unwritable.err;
}

}  // namespace
}  // namespace tq5::app
