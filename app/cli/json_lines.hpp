#pragma once
// tq5-updater --json: one JSON object per line on stdout, so that a script or another front
// end follows a run without reading texts. Every object has "event":
//   start      the program, command, MIDI system and the chosen ports
//   phase      a step begins (or a plan row is skipped)
//   progress   how far the step has come: bytes done of total, the share of the whole update
//   port       `ports`: one MIDI port
//   versions   `version`: the device's and the images' versions
//   read-back  whether the written flash was read back and found to hold the images
//   outcome    always the last line: completed or not, the cause and where, the exit code
// Strings are UTF-8: text that is not (a port name may hold any bytes) has each byte that
// does not form UTF-8 replaced by U+FFFD; control characters are escaped.

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/outcome.hpp"

namespace tq5::app::cli {

// `text` as a JSON string, quotes included.
std::string JsonString(std::string_view text);

// One object, built field by field in order.
class JsonObject {
public:
    explicit JsonObject(std::string_view event) { Add("event", event); }
    JsonObject& Add(std::string_view key, std::string_view value);
    JsonObject& Add(std::string_view key, const char* value) {
        return Add(key, std::string_view(value));
    }
    JsonObject& Add(std::string_view key, std::int64_t value);
    JsonObject& Add(std::string_view key, int value) {
        return Add(key, static_cast<std::int64_t>(value));
    }
    JsonObject& Add(std::string_view key, bool value);
    JsonObject& AddNumber(std::string_view key, double value);
    JsonObject& AddNull(std::string_view key);
    // The number, or null without one.
    JsonObject& AddOptional(std::string_view key, std::optional<std::int64_t> value) {
        return value ? Add(key, *value) : AddNull(key);
    }
    JsonObject& AddIntegers(std::string_view key, const std::vector<std::int32_t>& values);
    JsonObject& AddObject(std::string_view key, const JsonObject& object);  // its "event" left out
    std::string Text() const { return text_ + "}"; }

private:
    JsonObject& Key(std::string_view key);
    std::string text_ = "{";
};

// The lines of one run; shared by the procedure's thread and the main thread.
class JsonLines {
public:
    explicit JsonLines(std::FILE* out) : out_(out) {}
    void Write(const JsonObject& object);
    // A progress report: a phase line when a step (or row) begins, then a progress line.
    // `share`: 0..1 of the whole update.
    void Progress(const engine::Progress& progress, double share);

private:
    std::FILE* const out_;
    std::mutex lock_;
    std::optional<engine::Progress> step_;  // the step the last line was about
};

}  // namespace tq5::app::cli
