// The command line's own logic: parsing, choosing ports, following an update's progress.

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/cli/cli_options.hpp"
#include "app/cli/console_host.hpp"
#include "app/cli/failure_report.hpp"
#include "app/cli/interrupt.hpp"
#include "app/cli/midi_backends.hpp"
#include "app/cli/port_choice.hpp"
#include "app/cli/progress_tracker.hpp"
#include "app/printable_text.hpp"
#include "app/read_back_note.hpp"
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
    for (const auto& args :
         {std::vector<std::string>{"--simulate", "--device-mode", "normal", "update"},
          std::vector<std::string>{"update", "--simulate", "--device-mode", "normal"}}) {
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
    EXPECT_EQ(Parse({"--api", "jack", "ports"}).options->api, "jack");
}

// The --api values, their help and the usage line are the backend list's, in its order.
TEST(CliOptions, TheMidiSystemsOfferedAreTheBackendList) {
    for (const MidiBackendEntry& entry : MidiBackends()) {
        const ParseResult parsed = Parse({"--api", std::string(entry.option), "ports"});
        ASSERT_TRUE(parsed.options) << entry.option << ": " << parsed.output;
        EXPECT_EQ(parsed.options->api, entry.option);
        EXPECT_EQ(FindMidiBackend(entry.option), &entry);
    }
    EXPECT_EQ(FindMidiBackend("coreaudio"), nullptr);
    EXPECT_NE(Parse({"--help"}).output.find("MIDI system: alsa or jack"), std::string::npos);
    EXPECT_NE(UsageLine().find("[--api alsa|jack] [--in PORT]"), std::string::npos);
}

TEST(CliOptions, BadUsageEndsWithExitTwoAndTheUsageLine) {
    const std::vector<std::vector<std::string>> bad = {
        {},                                     // no command
        {"update", "version"},                  // two commands
        {"--bogus", "update"},                  // unknown option
        {"--api", "coreaudio", "ports"},        // unknown MIDI system
        {"--device-mode", "normal", "update"},  // a device option without --simulate
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
    for (const auto& args :
         {std::vector<std::string>{"--version"}, std::vector<std::string>{"update", "--version"}}) {
        const ParseResult parsed = Parse(args);
        EXPECT_FALSE(parsed.options);
        EXPECT_EQ(parsed.exitCode, kExitSuccess);
        EXPECT_FALSE(parsed.toStderr);
        EXPECT_EQ(parsed.output, firmware::ProgramVersionText("tq5-updater") + "\n");
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

TEST(PortChoice, NoPreferredPortIsSearchedFor) {
    const PortChoice choice = ChoosePort(kPorts, "", 3, "output", "--out");
    EXPECT_EQ(choice.index, -1);
    EXPECT_TRUE(choice.error.empty()) << choice.error;
    EXPECT_TRUE(choice.search);
    EXPECT_FALSE(ChoosePort(kPorts, "", 1, "output", "--out").search);
    EXPECT_FALSE(ChoosePort(kPorts, "0", 3, "output", "--out").search);
}

TEST(PortChoice, IndexThenExactNameThenUniquePart) {
    EXPECT_EQ(Choose("0"), 0);
    EXPECT_EQ(Choose("VARN TQ Series"), 2);  // exact, although it is part of entry 3 too
    EXPECT_EQ(Choose("Through"), 0);
    EXPECT_EQ(Choose("(2)"), 3);
}

TEST(PortChoice, RefusesWhatIsMissingOrAmbiguous) {
    for (const std::string wanted :
         {"4", "99999999999", "Nothing", "VARN", "USB Audio Device (5)"}) {
        const PortChoice choice = ChoosePort(kPorts, wanted, 1, "output", "--out");
        EXPECT_EQ(choice.index, -1) << wanted;
        EXPECT_NE(choice.error.find("tq5-updater ports"), std::string::npos) << wanted;
    }
    const PortChoice ambiguous = ChoosePort(kPorts, "VARN", 1, "output", "--out");
    EXPECT_NE(ambiguous.error.find("2 \"VARN TQ Series\""), std::string::npos);
    EXPECT_NE(ambiguous.error.find("3 \"VARN TQ Series (2)\""), std::string::npos);
}

TEST(PortChoice, LongNamesThatDifferOnlyAtTheirEndsAreToldApart) {
    // JACK names: the client's name, a colon, the port's; alike for their first 40 bytes.
    const std::string head = "a2j:USB MIDI Interface with a long name [20] (capture): ";
    const std::vector<std::string> names = {head + "Port 1", head + "Port 2"};
    EXPECT_EQ(ChoosePort(names, head + "Port 2", 1, "input", "--in").index, 1);
    EXPECT_EQ(ChoosePort(names, "Port 1", 1, "input", "--in").index, 0);
    const PortChoice both = ChoosePort(names, "a2j:USB", 1, "input", "--in");
    EXPECT_EQ(both.index, -1);
    EXPECT_NE(both.error.find("0 \"" + head + "Port 1\", 1 \"" + head + "Port 2\""),
              std::string::npos)
        << both.error;
}

TEST(PortChoice, NamesWithControlBytesAreFoundRawOrAsPrintedAndShownEscaped) {
    const std::vector<std::string> names = {"evil:\x1b[2J\x1b]0;owned\x07", "plain:port"};
    EXPECT_EQ(ChoosePort(names, "evil:\\x1B[2J", 1, "output", "--out").index, 0);
    EXPECT_EQ(ChoosePort(names, "\x1b[2J", 1, "output", "--out").index, 0);
    const PortChoice none = ChoosePort(names, "nothing\x1b[31m", 1, "output", "--out");
    EXPECT_EQ(none.error.find('\x1b'), std::string::npos) << none.error;
    EXPECT_NE(none.error.find("nothing\\x1B[31m"), std::string::npos) << none.error;
    const PortChoice two = ChoosePort(names, ":", 1, "output", "--out");
    EXPECT_EQ(two.error.find('\x1b'), std::string::npos) << two.error;
    EXPECT_NE(two.error.find("evil:\\x1B[2J\\x1B]0;owned\\x07"), std::string::npos) << two.error;
}

// --- printing names -----------------------------------------------------------------------------

TEST(PrintableText, EscapesWhatATerminalWouldActOnAndKeepsTheRest) {
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"VARN TQ Series (2)", "VARN TQ Series (2)"},
        {"Gerät: Ausgang", "Gerät: Ausgang"},                   // UTF-8 stays
        {"\xe6\x97\xa5\xe6\x9c\xac", "\xe6\x97\xa5\xe6\x9c\xac"},  // so do CJK characters
        {"\xf0\x9f\x8e\xb9 keys", "\xf0\x9f\x8e\xb9 keys"},      // and four-byte ones
        {"a\x1b[31mred", "a\\x1B[31mred"},
        {"tab\there\nnew\rline", "tab\\x09here\\x0Anew\\x0Dline"},
        {std::string("nul\0end", 7), "nul\\x00end"},
        {"del\x7f", "del\\x7F"},
        {"back\\slash", "back\\\\slash"},               // so that an escape can't be faked
        {"\xc2\x9b" "2J", "\\u009B2J"},                     // C1 CSI
        {"\xe2\x80\xae" "txt.exe", "\\u202Etxt.exe"},       // right-to-left override
        {"\xe2\x80\xa8", "\\u2028"},                        // line separator
        {"latin1 \xe9t\xe9", "latin1 \\xE9t\\xE9"},         // not UTF-8
        {"\xc0\xaf", "\\xC0\\xAF"},                         // overlong
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},             // a surrogate
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},   // past U+10FFFF
        {"cut \xe2\x82", "cut \\xE2\\x82"},                 // a sequence cut short
        {"\x80lone", "\\x80lone"},                           // a stray continuation byte
    };
    // clang-format on
    for (const auto& [raw, printed] : rows) EXPECT_EQ(PrintableText(raw), printed) << printed;
}

// --- ending on signals, bounds ------------------------------------------------------------------

struct ChildEnd {
    int exitCode = -1;  // -1 when a signal ended it
    std::string err;
    double ms = 0;  // from the fork to the end
};

// Runs `body` in a child process whose stderr comes back; the child ends by _exit only, or
// is killed after ten seconds (a hang).
ChildEnd RunChild(const std::function<void()>& body) {
    int err[2];
    if (pipe(err) != 0) return {};
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(err[1], STDERR_FILENO);
        close(err[0]);
        close(err[1]);
        body();
        _exit(0);
    }
    close(err[1]);
    ChildEnd end;
    char buffer[256];
    for (;;) {
        pollfd ready{err[0], POLLIN, 0};
        if (poll(&ready, 1, 10000) <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        const ssize_t got = read(err[0], buffer, sizeof buffer);
        if (got <= 0) break;
        end.err.append(buffer, static_cast<std::size_t>(got));
    }
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    end.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
                 .count();
    if (WIFEXITED(status)) end.exitCode = WEXITSTATUS(status);
    return end;
}

void SleepForever() {
    for (;;) pause();
}

TEST(Interrupts, TheWatcherEndsWhatTheProgramDoesNotAndBoundsWhatMayNotReturn) {
    struct Row {
        const char* what;
        std::function<void()> body;
        int exitCode;
        std::string err;  // exactly this on stderr
        bool atOnce;      // well before the grace runs out
    };
    const std::vector<Row> rows = {
        {"Ctrl-C while the program never looks",
         [] {
             SetInterruptNotice("left as it was\n");
             kill(getpid(), SIGINT);
             SleepForever();
         },
         130, "left as it was\n", false},
        {"SIGHUP, the notice of the moment",
         [] {
             SetInterruptNotice("first\n");
             SetInterruptNotice("second\n");
             kill(getpid(), SIGHUP);
             SleepForever();
         },
         130, "second\n", false},
        {"a second signal ends it at once",
         [] {
             kill(getpid(), SIGTERM);
             kill(getpid(), SIGINT);
             SleepForever();
         },
         130, "tq5-updater: interrupted.\n", true},
        {"the program says it itself, once",
         [] {
             kill(getpid(), SIGINT);
             PrintInterruptNotice();
             PrintInterruptNotice();
             SleepForever();
         },
         130, "tq5-updater: interrupted.\n", false},
        {"a teardown that does not end",
         [] {
             FinishWithin(7, 100);
             SleepForever();
         },
         7, "", true},
        {"Ctrl-C once the result is known",
         [] {
             FinishWithin(3, 60000);
             kill(getpid(), SIGINT);
             SleepForever();
         },
         3, "", false},
        {"a MIDI call that never returns",
         [] {
             const StallGuard guard(100, 1, "no answer\n");
             SleepForever();
         },
         1, "no answer\n", true},
        {"a MIDI call that returns in time",
         [] {
             { const StallGuard guard(100, 1, "no answer\n"); }
             usleep(400000);
         },
         0, "", true},
        {"output to a pipe whose reader has gone",
         [] {
             int out[2];
             if (pipe(out) != 0) _exit(9);
             close(out[0]);
             const ssize_t wrote = write(out[1], "x", 1);
             _exit(wrote < 0 && errno == EPIPE ? 0 : 9);
         },
         0, "", true},
        {"handlers that restart system calls; SIGPIPE ignored",
         [] {
             for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
                 struct sigaction current {};
                 sigaction(signal, nullptr, &current);
                 if ((current.sa_flags & SA_RESTART) == 0) _exit(5);
             }
             struct sigaction pipe {};
             sigaction(SIGPIPE, nullptr, &pipe);
             _exit(pipe.sa_handler == SIG_IGN ? 0 : 6);
         },
         0, "", true},
        {"a signal does not make a blocking call fail",
         [] {
             int in[2];
             if (pipe(in) != 0) _exit(9);
             std::thread([in] {
                 usleep(100000);
                 kill(getpid(), SIGHUP);  // while the read below waits
                 usleep(20000);
                 if (write(in[1], "x", 1) != 1) _exit(9);
             }).detach();
             char byte = 0;
             const ssize_t got = read(in[0], &byte, 1);
             // The watcher ends it, with this code and no notice (4: the read failed).
             FinishWithin(got == 1 ? 0 : 4, 60000);
             SleepForever();
         },
         0, "", false},
    };
    // What a child that does nothing takes (much more under ThreadSanitizer than without).
    const auto baseMs = [] { return RunChild([] { CatchInterrupts(); }).ms; };
    const auto run = [](const Row& row) {
        return RunChild([&] {
            CatchInterrupts();
            row.body();
        });
    };
    const double firstBaseMs = baseMs();
    for (const Row& row : rows) {
        const ChildEnd end = run(row);
        EXPECT_EQ(end.exitCode, row.exitCode) << row.what << "\n" << end.err;
        EXPECT_EQ(end.err, row.err) << row.what;
        if (row.atOnce) {
            // A busy machine can hold any one child up past the grace, but a child that waits
            // for the grace never ends before it: the quickest of a few tries tells them apart.
            double quickest = end.ms - firstBaseMs;
            for (int again = 0; again < 4 && quickest >= kInterruptGraceMs; ++again) {
                const double base = baseMs();
                quickest = std::min(quickest, run(row).ms - base);
            }
            EXPECT_LT(quickest, kInterruptGraceMs) << row.what;
        } else {
            EXPECT_GE(end.ms, kInterruptGraceMs) << row.what;
        }
        EXPECT_LT(end.ms, firstBaseMs + 10000) << row.what;
    }
}

// --- progress ---------------------------------------------------------------------------------

// Images of the shipped sizes whose bytes do not matter here.
firmware::MemoryFirmwareStore SizedImages() {
    firmware::MemoryFirmwareStore store;
    store.Set(engine::kImageMain, std::vector<std::uint8_t>(283088));
    store.Set(engine::kImagePreset, std::vector<std::uint8_t>(4096));
    store.Set(engine::kImageData, std::vector<std::uint8_t>(3297280));
    store.Set(engine::kImageSystem, std::vector<std::uint8_t>(4096));
    store.Set(engine::kImageBoot, std::vector<std::uint8_t>(204800));
    return store;
}

constexpr std::int64_t kAllBytes = 283088 + 4096 + 3297280 + 4096 + 204800;

engine::Progress Step(engine::Phase phase, int row, std::int64_t done, std::int64_t total,
                      bool skipped = false) {
    engine::Progress p;
    p.phase = phase;
    p.row = row;
    p.rows = 10;
    p.skipped = skipped;
    p.done = done;
    p.total = total;
    return p;
}

// Plays one row of the plan as the flash steps report it. The status texts are whatever the
// window would show: nothing the tracker counts depends on them.
void PlayRow(ProgressTracker& p, int row, std::int64_t bytes, const std::string& status = "x") {
    if (bytes == 0) {  // an erase
        p.OnProgress(Step(engine::Phase::Erase, row, 0, 4096));
        p.OnStatus(status);
        p.OnProgress(Step(engine::Phase::Erase, row, 4096, 4096));
        return;
    }
    p.OnProgress(Step(engine::Phase::Write, row, 0, bytes));
    for (std::int64_t offset = 0; offset < bytes; offset += 4096) {
        p.OnStatus(status + std::to_string(offset));
        p.OnProgress(
            Step(engine::Phase::Write, row, std::min<std::int64_t>(offset + 4096, bytes), bytes));
    }
}

TEST(ProgressTracker, CountsTheBytesOfTheWholePlanWhateverTheTexts) {
    const auto images = SizedImages();
    for (const std::string status : {"Data transmit  ", "renamed text ", ""}) {
        ProgressTracker p(images, ProgressTracker::Clock::now(), false);
        PlayRow(p, 1, 0, status);
        PlayRow(p, 2, 0, status);
        PlayRow(p, 3, 4096, status);
        EXPECT_NEAR(p.Done(), 4096.0 / kAllBytes, 1e-9);
        PlayRow(p, 4, 0, status);
        PlayRow(p, 5, 204800, status);
        PlayRow(p, 6, 0, status);
        p.OnProgress(Step(engine::Phase::Write, 7, 0, 283088));
        p.OnProgress(Step(engine::Phase::Write, 7, 4096, 283088));
        EXPECT_NEAR(p.Done(), (4096.0 + 204800 + 4096) / kAllBytes, 1e-9);
        EXPECT_EQ(p.Counter(), "7/10");
        PlayRow(p, 7, 283088, status);
        PlayRow(p, 8, 0, status);
        PlayRow(p, 9, 3297280, status);
        PlayRow(p, 10, 4096, status);
        EXPECT_DOUBLE_EQ(p.Done(), 1.0);
    }
}

TEST(ProgressTracker, ASkippedBootWriteLeavesTheTotal) {
    const auto images = SizedImages();
    ProgressTracker p(images, ProgressTracker::Clock::now(), false);
    PlayRow(p, 3, 4096);
    p.OnProgress(Step(engine::Phase::Erase, 4, 0, 204800, true));
    p.OnProgress(Step(engine::Phase::Write, 5, 0, 204800, true));
    p.OnProgress(Step(engine::Phase::Erase, 6, 0, 651264));
    EXPECT_NEAR(p.Done(), 4096.0 / (kAllBytes - 204800), 1e-9);
}

TEST(ProgressTracker, TheReadBackCheckCountsAsMuchAsTheWriting) {
    const auto images = SizedImages();
    const auto start = ProgressTracker::Clock::now();
    ProgressTracker p(images, start, true);
    for (int row = 1; row <= 10; ++row) {
        const auto& plan = engine::kFlashPlan[static_cast<std::size_t>(row - 1)];
        PlayRow(p, row,
                plan.type == engine::FlashStepType::Write
                    ? images.Locate(static_cast<int>(plan.resourceId))->size
                    : 0);
    }
    EXPECT_NEAR(p.Done(), 0.5, 1e-9);
    EXPECT_EQ(p.OnProgress(Step(engine::Phase::Verify, 0, 0, kAllBytes)),
              ProgressTracker::Change::Began);
    p.OnProgress(Step(engine::Phase::Verify, 0, kAllBytes / 2, kAllBytes));
    EXPECT_NEAR(p.Done(), 0.75, 1e-6);
    const std::string line = p.Line(start + std::chrono::seconds(3));
    EXPECT_EQ(line.rfind("10/10  Verifying flash  " + std::to_string(kAllBytes / 2) + "/" +
                             std::to_string(kAllBytes) + " bytes",
                         0),
              0u)
        << line;
}

TEST(ProgressTracker, TheLineShowsRowStatusBytesPercentAndTimes) {
    const auto images = SizedImages();
    const auto start = ProgressTracker::Clock::now();
    ProgressTracker p(images, start, false);
    p.OnProgress(Step(engine::Phase::Write, 9, 0, 3297280));
    p.OnStatus("Data transmit  1646592 / 3297280 ");
    p.OnProgress(Step(engine::Phase::Write, 9, 1650688, 3297280));
    const double done = (1650688.0) / kAllBytes;
    const std::string line = p.Line(start + std::chrono::seconds(30));
    EXPECT_EQ(line.rfind("9/10  Data transmit  1646592 / 3297280   1650688/3297280 bytes", 0), 0u)
        << line;
    EXPECT_NE(line.find(std::to_string(static_cast<int>(done * 100)) + "%"), std::string::npos);
    EXPECT_NE(line.find("0:30 elapsed"), std::string::npos) << line;
    const auto left = static_cast<long long>(30.0 * (1.0 - done) / done);
    EXPECT_NE(line.find(ProgressTracker::Duration(std::chrono::seconds(left)) + " left"),
              std::string::npos)
        << line;
}

TEST(ProgressTracker, WhatALogNotes) {
    using Change = ProgressTracker::Change;
    const auto images = SizedImages();
    ProgressTracker p(images, ProgressTracker::Clock::now(), false);
    EXPECT_EQ(p.OnProgress(Step(engine::Phase::Erase, 1, 0, 4096)), Change::Began);
    EXPECT_EQ(p.OnProgress(Step(engine::Phase::Erase, 1, 4096, 4096)), Change::None);
    EXPECT_EQ(p.OnProgress(Step(engine::Phase::Erase, 2, 0, 4096)), Change::Began);  // new row
    EXPECT_EQ(p.OnProgress(Step(engine::Phase::Write, 3, 0, 8192)), Change::Began);
    EXPECT_EQ(p.Beginning(), "writing 8192 bytes");
    EXPECT_EQ(p.OnProgress(Step(engine::Phase::Write, 3, 4096, 8192)), Change::None);
    EXPECT_EQ(p.OnProgress(Step(engine::Phase::Write, 3, 8192, 8192)), Change::Finished);
    EXPECT_EQ(p.OnProgress(Step(engine::Phase::Write, 5, 0, 204800, true)), Change::None);
}

// --- what a failure line says -----------------------------------------------------------------

struct FailureCase {
    engine::Outcome outcome;
    int row;
    std::string says;  // empty: no line of its own
};

TEST(FailureReport, SaysWhereAndWhyFromTheOutcome) {
    using engine::Cause;
    using engine::Phase;
    // clang-format off
    const std::vector<FailureCase> cases = {
        {{false, 107, Phase::Write, Cause::DuplicateReplies, 0, 129, 0}, 7,
         "the TQ-5's replies arrived twice, so it could not be told which request each one "
         "answered. Check that only one MIDI route connects the TQ-5 and this program"},
        {{false, 107, Phase::Verify, Cause::Mismatch, 0, 129, 0x38004}, 0,
         "the read-back check found the TQ-5's flash different from image 129 at flash "
         "address 0x038004."},
        {{false, 0, Phase::BootVersion, Cause::TimedOut}, 0,
         "the update stopped while reading the TQ-5's boot loader version: no answer came in "
         "time."},
        {{false, 0, Phase::BootVersion, Cause::BrokenReply, 1}, 0,
         "the update stopped while reading the TQ-5's boot loader version: the answer carried "
         "status 1 instead of the data."},
        {{false, 103, Phase::Write, Cause::SendFailed, 0, 136}, 9,
         "the update stopped while writing image 136 (9/10): the request could not be sent "
         "through the MIDI output."},
        {{false, 107, Phase::Erase, Cause::DeviceStatus, 5}, 6,
         "the update stopped while erasing (6/10): the TQ-5 answered with status 5."},
        {{false, 107, Phase::Write, Cause::LateReply, 0, 129, 0}, 7,
         "the TQ-5 answered a request after the updater had given the answer up for lost"},
        {{false, 106, Phase::EnterUpdate, Cause::NotInUpdateMode, 11}, 0, ""},
        {{true, 108, Phase::Finish, Cause::None}, 10, ""},
    };
    // clang-format on
    for (const FailureCase& c : cases) {
        engine::Progress last;
        last.row = c.row;
        last.rows = 10;
        const std::string line = ExplainFailure(c.outcome, last);
        if (c.says.empty()) {
            EXPECT_EQ(line, "");
        } else {
            EXPECT_EQ(line.rfind(c.says, 0), 0u) << line;
        }
    }
}

// An update whose flash could not be read back says how the reads failed; any other, nothing.
TEST(ReadBackNote, SaysHowTheReadsFailedOnlyWhenNoneWorked) {
    const std::string note =
        ReadBackNote({engine::ReadBackResult::Unreadable, 0, engine::Cause::DeviceStatus, 4});
    EXPECT_EQ(note.rfind("The TQ-5's flash could not be read back on this device: it refused "
                         "reads of 256 bytes and more (status 4). ",
                         0),
              0u)
        << note;
    EXPECT_EQ(ReadBackNote({engine::ReadBackResult::Verified, 4096}), "");
}

// The console decides by the procedure's outcome: whatever the status line last said, and
// however the texts are worded, only the outcome makes an update a success.
TEST(ConsoleHost, AnUpdateSucceedsByItsOutcomeNotByItsTexts) {
    const auto images = SizedImages();
    std::FILE* null = std::fopen("/dev/null", "w");
    ASSERT_NE(null, nullptr);
    for (const bool completed : {true, false}) {
        ConsoleHost host(null, null, false, images);
        host.SetStatusText(completed ? "some other wording" : "Version update completed.");
        engine::Outcome outcome;
        outcome.completed = completed;
        outcome.messageId = completed ? 0 : 107;
        host.ReportOutcome(outcome);
        host.ReleaseControls();
        ASSERT_TRUE(host.UpdateOutcome().has_value());
        EXPECT_EQ(host.UpdateOutcome()->completed, completed);
    }
    std::fclose(null);
}

TEST(ProgressTracker, Durations) {
    EXPECT_EQ(ProgressTracker::Duration(std::chrono::seconds(0)), "0:00");
    EXPECT_EQ(ProgressTracker::Duration(std::chrono::seconds(65)), "1:05");
    EXPECT_EQ(ProgressTracker::Duration(std::chrono::seconds(3600)), "60:00");
}

}  // namespace
}  // namespace tq5::app::cli
