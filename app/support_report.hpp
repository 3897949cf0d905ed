#pragma once
// The report a user sends to the TQ-5's maker when an update went wrong: which program and
// images, which computer and MIDI ports, how the run ended, what each step of the update took
// and the last exchanges with the device. Plain text that a person reads and a support tool
// parses: every line that carries data is "key: value"; blank lines and lines that begin with
// "#" carry none. Keys are stable (outcome_keys.hpp gives the words of their values); per-step
// and per-exchange lines hold "name=value" fields separated by blanks. Everything in it comes
// from data (the procedure's outcome, progress and traffic record), never from a window's
// texts, and it never holds a byte of the firmware.
//
// tq5-updater writes it (--report, and after every failed update); the page offers it for
// download after a failed update.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/outcome.hpp"
#include "engine/seams/firmware_images.hpp"
#include "engine/state/exchange_log.hpp"

namespace tq5::app {

struct ReportPort {
    std::int32_t index = -1;  // -1: none was chosen
    std::string name;         // as the MIDI system gives it (any bytes; escaped in the report)
    // How it was chosen: "named" (an option named it), "preferred" (it carries a name the
    // instance prefers), "found-by-asking" (a TQ-5 answered on it), "picked" (in a list).
    std::string chosenBy;
};

struct ReportFacts {
    std::string program;  // "tq5-updater", "web page"
    std::string programVersion;
    const engine::FirmwareStore* images = nullptr;
    bool generatedImages = false;
    std::string command;  // "update", "version", "ports"
    // Under "computer.": ("os", ...), ("kernel", ...) or ("user-agent", ...).
    std::vector<std::pair<std::string, std::string>> computer;
    std::string midiSystem;
    int instance = 0;
    ReportPort output;
    ReportPort input;
    bool deviceGone = false;  // the device's MIDI device vanished (unplugged, switched off)
    bool verify = false;      // the update reads the written flash back
    // How the run ended: the procedure's outcome; or, when none came, a cause of the
    // program's own ("no-port", "interrupted", ...); neither for a run that needed none.
    std::optional<engine::Outcome> outcome;
    std::string programCause;
    engine::Progress lastProgress;
    std::optional<engine::TrafficRecord> traffic;
    std::optional<int> exitCode;
};

std::string SupportReportText(const ReportFacts& facts);

// The outcome's fields that its cause gives a meaning; empty where it gives none.
struct OutcomeDetails {
    std::optional<std::int64_t> status;   // the status the device sent
    std::optional<std::int64_t> image;    // the image concerned
    std::optional<std::int64_t> address;  // the first flash address that differs
    std::optional<std::int64_t> row;      // the plan row it stopped in
};
OutcomeDetails DetailsOf(const engine::Outcome& outcome, const engine::Progress& last);

// Whether an update's written flash was read back and found to hold the images: "verified",
// "unreadable" (the device served no read: nothing was compared), "differs", "failed" (a
// read the device had served failed), "not-reached" (the update ended before the check),
// "off".
std::string_view ReadBackKey(const ReportFacts& facts);

// "2026-12-08T13:34:46Z"
std::string UtcTimeText(std::chrono::system_clock::time_point at);

}  // namespace tq5::app
