#include "app/cli/json_lines.hpp"

#include "app/outcome_keys.hpp"
#include "app/printable_text.hpp"

namespace tq5::app::cli {

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t code = 0;
        const std::size_t length = DecodeUtf8(text, at, code);
        if (length == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
            ++at;
            continue;
        }
        if (code == '"' || code == '\\') {
            out += '\\';
            out += static_cast<char>(code);
        } else if (code < 0x20 || code == 0x7F || code == 0x2028 || code == 0x2029) {
            // Controls, and the two separators that end a line in JavaScript source.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(code));
            out += escape;
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out + "\"";
}

JsonObject& JsonObject::Key(std::string_view key) {
    if (text_.size() > 1) text_ += ',';
    text_ += JsonString(key);
    text_ += ':';
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view value) {
    Key(key).text_ += JsonString(value);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::int64_t value) {
    Key(key).text_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool value) {
    Key(key).text_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::AddNumber(std::string_view key, double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", value);
    Key(key).text_ += text;
    return *this;
}

JsonObject& JsonObject::AddNull(std::string_view key) {
    Key(key).text_ += "null";
    return *this;
}

JsonObject& JsonObject::AddIntegers(std::string_view key, const std::vector<std::int32_t>& values) {
    Key(key).text_ += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) text_ += ',';
        text_ += std::to_string(values[i]);
    }
    text_ += ']';
    return *this;
}

JsonObject& JsonObject::AddObject(std::string_view key, const JsonObject& object) {
    // The nested object without its "event" field: everything after the first comma.
    const std::string inner = object.Text();
    const std::size_t comma = inner.find(',');
    Key(key).text_ += '{';
    if (comma != std::string::npos) {
        text_.append(inner, comma + 1);
    } else {
        text_ += '}';
    }
    return *this;
}

void JsonLines::Write(const JsonObject& object) {
    const std::string line = object.Text() + "\n";
    std::lock_guard guard(lock_);
    std::fputs(line.c_str(), out_);  // one call: a line is never cut by another's
    std::fflush(out_);
}

void JsonLines::Progress(const engine::Progress& progress, double share) {
    const auto step = [&](std::string_view event) {
        JsonObject line(event);
        line.Add("phase", PhaseKey(progress.phase));
        line.Add("row", progress.row).Add("rows", progress.rows);
        return line;
    };
    bool begins = false;
    {
        std::lock_guard guard(lock_);
        begins = !step_ || step_->phase != progress.phase || step_->row != progress.row;
        step_ = progress;
    }
    if (begins) {
        Write(step("phase").Add("skipped", progress.skipped).Add("total", progress.total));
    }
    if (progress.skipped) return;
    Write(step("progress")
              .Add("done", progress.done)
              .Add("total", progress.total)
              .AddNumber("share", share));
}

}  // namespace tq5::app::cli
