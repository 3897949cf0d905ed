#include "app/support_report.hpp"

#include <cinttypes>
#include <cstdio>

#include "app/outcome_keys.hpp"
#include "app/printable_text.hpp"
#include "engine/procedures/version_check.hpp"
#include "engine/string_table.hpp"

namespace tq5::app {
namespace {

constexpr int kReportFormat = 1;

class Lines {
public:
    void Add(std::string_view key, std::string_view value) {
        text_.append(key);
        text_ += ": ";
        // One line each, whatever the value holds.
        text_ += PrintableText(value);
        text_ += '\n';
    }
    void Add(std::string_view key, std::int64_t value) { Add(key, std::to_string(value)); }
    void Gap() { text_ += '\n'; }
    void Comment(std::string_view text) {
        text_ += "# ";
        text_.append(text);
        text_ += '\n';
    }
    std::string Take() { return std::move(text_); }

private:
    std::string text_;
};

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06" PRIX32, value);
    return text;
}

// Milliseconds with one decimal, from microseconds.
std::string Ms(std::int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(us) / 1000.0);
    return text;
}

std::string Seconds(std::int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(us) / 1e6);
    return text;
}

void AddPort(Lines& lines, const std::string& key, const ReportPort& port) {
    if (port.index < 0) {
        lines.Add(key, "-");
        return;
    }
    lines.Add(key, port.index);
    lines.Add(key + ".name", port.name);
    lines.Add(key + ".chosen-by", port.chosenBy);
}

void AddDevice(Lines& lines, const engine::DeviceFacts& device) {
    if (!device.identified) {
        lines.Add("device.id", "-");
        return;
    }
    char id[16];
    std::snprintf(id, sizeof id, "%02X%02X%02X%02X", device.id[0], device.id[1], device.id[2],
                  device.id[3]);
    lines.Add("device.id", id);
    constexpr const char* kSlots[] = {"device.boot-version", "device.preset-version",
                                      "device.system-version"};  // by VersionSlot
    for (std::size_t slot = 0; slot < device.versions.size(); ++slot) {
        if (device.versionRead[slot]) {
            lines.Add(kSlots[slot], engine::VersionText(device.versions[slot].data()));
        }
    }
}

void AddOutcome(Lines& lines, const ReportFacts& f) {
    if (!f.outcome) {
        // A run that needed no procedure's outcome (ports, a version check), or ended before one.
        const int exitCode = f.exitCode.value_or(0);
        lines.Add("outcome", exitCode == 0     ? "completed"
                             : exitCode == 130 ? "interrupted"
                                               : "failed");
        lines.Add("outcome.cause", f.programCause.empty() ? "none" : f.programCause);
        if (exitCode == 130 && f.traffic)
            lines.Add("outcome.phase", PhaseKey(f.lastProgress.phase));
        return;
    }
    const engine::Outcome& o = *f.outcome;
    lines.Add("outcome", o.completed ? "completed" : "failed");
    lines.Add("outcome.phase", PhaseKey(o.phase));
    lines.Add("outcome.cause", CauseKey(o.cause));
    // Each only where the outcome's cause gives it a meaning; "-" elsewhere.
    const engine::Progress& last = f.lastProgress;
    const OutcomeDetails details = DetailsOf(o, last);
    const auto text = [](const std::optional<std::int64_t>& value, auto format) {
        return value ? format(*value) : std::string("-");
    };
    const auto decimal = [](std::int64_t v) { return std::to_string(v); };
    lines.Add("outcome.status", text(details.status, decimal));
    lines.Add("outcome.image", text(details.image, decimal));
    lines.Add("outcome.address", text(details.address, [](std::int64_t v) {
                  return Hex(static_cast<std::uint32_t>(v));
              }));
    lines.Add("outcome.row", text(details.row, [&last](std::int64_t v) {
                  return std::to_string(v) + "/" + std::to_string(last.rows);
              }));
    lines.Add("outcome.message-id", o.messageId);
    if (o.messageId != 0) lines.Add("outcome.message", engine::LoadText(o.messageId));
}

void AddReadBack(Lines& lines, const ReportFacts& f) {
    lines.Add("read-back", ReadBackKey(f));
    if (!f.outcome) return;
    const engine::ReadBack& r = f.outcome->readBack;
    lines.Add("read-back.read-size", r.readBytes != 0 ? std::to_string(r.readBytes) : "-");
    lines.Add("read-back.bytes-compared", r.bytesCompared);
    lines.Add("read-back.blocks-found-written", r.blocksFoundWritten);
    if (r.result == engine::ReadBackResult::Unreadable) {
        lines.Add("read-back.unreadable-cause", CauseKey(r.unreadable));
        if (r.unreadable == engine::Cause::DeviceStatus)
            lines.Add("read-back.unreadable-status", r.status);
    }
}

std::string Refusals(const engine::PhaseRecord& phase) {
    std::string text;
    for (std::size_t status = 0; status < phase.refusedWith.size(); ++status) {
        if (phase.refusedWith[status] == 0) continue;
        if (!text.empty()) text += ',';
        text += std::to_string(status) + ":" + std::to_string(phase.refusedWith[status]);
    }
    return text.empty() ? "-" : text;
}

// "name=value" fields separated by blanks. Appended piece by piece: GCC 12 at -O3 mistakes
// chains of `"..." + std::string` for overlapping copies (-Wrestrict).
class Fields {
public:
    Fields& Add(std::string_view name, std::string_view value) {
        if (!text_.empty()) text_ += ' ';
        text_.append(name);
        text_ += '=';
        text_.append(value);
        return *this;
    }
    Fields& Add(std::string_view name, std::int64_t value) {
        return Add(name, std::to_string(value));
    }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

void AddPhases(Lines& lines, const engine::TrafficRecord& traffic) {
    for (std::size_t i = 0; i < traffic.phases.size(); ++i) {
        const engine::PhaseRecord& p = traffic.phases[i];
        if (!p.entered) continue;
        Fields fields;
        fields.Add("time-ms", Ms(p.timeUs)).Add("requests", p.requests).Add("resends", p.resends);
        fields.Add("send-failures", p.sendFailures).Add("timeouts", p.timeouts);
        fields.Add("refusals", p.refusals).Add("refused-with", Refusals(p));
        fields.Add("surplus", p.surplus).Add("late", p.late);
        std::string key = "phase.";
        key.append(PhaseKey(static_cast<engine::Phase>(i)));
        lines.Add(key, fields.Text());
    }
}

std::string Flags(const engine::ExchangeRecord& r) {
    std::string flags;
    const auto add = [&flags](bool on, const char* word) {
        if (!on) return;
        if (!flags.empty()) flags += ',';
        flags += word;
    };
    add(r.resend, "resend");
    add(r.gaveUp, "gave-up");
    add(r.surplus > 0, "surplus");
    add(r.late > 0, "late");
    return flags.empty() ? "-" : flags;
}

std::string ExchangeFields(const engine::ExchangeRecord& r) {
    std::string answer(AnswerKey(r.answer));
    if (r.answer == engine::ExchangeAnswer::Status) {
        answer += ':';
        answer += std::to_string(r.status);
    }
    Fields fields;
    fields.Add("t", Seconds(r.atUs)).Add("phase", PhaseKey(r.phase));
    fields.Add("request", ExchangeKindKey(r.kind));
    fields.Add("address", r.hasAddress ? Hex(r.address) : "-");
    fields.Add("size", r.hasAddress ? std::to_string(r.size) : "-");
    fields.Add("answer", answer).Add("wait-ms", r.waitUs >= 0 ? Ms(r.waitUs) : "-");
    fields.Add("replies", r.replies).Add("flags", Flags(r));
    return fields.Text();
}

}  // namespace

OutcomeDetails DetailsOf(const engine::Outcome& o, const engine::Progress& last) {
    OutcomeDetails details;
    if (o.cause == engine::Cause::DeviceStatus || o.cause == engine::Cause::NotInUpdateMode ||
        (o.cause == engine::Cause::BrokenReply && o.status != 0)) {
        details.status = o.status;
    }
    if (o.imageId != 0) details.image = o.imageId;
    if (o.cause == engine::Cause::Mismatch) details.address = o.address;
    if (last.row > 0) details.row = last.row;
    return details;
}

std::string_view ReadBackKey(const ReportFacts& f) {
    if (!f.verify) return "off";
    if (!f.outcome) return "not-reached";
    switch (f.outcome->readBack.result) {
        case engine::ReadBackResult::Verified:
            return "verified";
        case engine::ReadBackResult::Unreadable:
            return "unreadable";
        case engine::ReadBackResult::NotRun:
            break;
    }
    if (f.outcome->phase != engine::Phase::Verify) return "not-reached";
    return f.outcome->cause == engine::Cause::Mismatch ? "differs" : "failed";
}

std::string UtcTimeText(std::chrono::system_clock::time_point at) {
    using namespace std::chrono;
    const auto secs = floor<seconds>(at);
    const auto days = floor<std::chrono::days>(secs);
    const year_month_day date{days};
    const hh_mm_ss time{secs - days};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

std::string SupportReportText(const ReportFacts& f) {
    Lines lines;
    lines.Comment("TQ-5 updater report: what happened, for the TQ-5's maker's support.");
    lines.Comment("It holds no firmware bytes. Lines are \"key: value\".");
    lines.Add("report-format", kReportFormat);
    lines.Add("program", f.program);
    lines.Add("program-version", f.programVersion);
    if (f.images != nullptr) {
        lines.Add("images.system-version",
                  engine::ImageVersionText(*f.images, engine::kSystemVersion));
        lines.Add("images.preset-version",
                  engine::ImageVersionText(*f.images, engine::kPresetVersion));
        lines.Add("images.boot-version", engine::ImageVersionText(*f.images, engine::kBootVersion));
        lines.Add("images.generated", f.generatedImages ? "yes" : "no");
    }
    lines.Add("command", f.command);
    for (const auto& [key, value] : f.computer) lines.Add("computer." + key, value);
    lines.Gap();

    lines.Add("midi.system", f.midiSystem);
    lines.Add("midi.instance", f.instance);
    AddPort(lines, "midi.out", f.output);
    AddPort(lines, "midi.in", f.input);
    lines.Add("midi.device-gone", f.deviceGone ? "yes" : "no");
    lines.Gap();

    if (f.traffic) {
        lines.Add("started", UtcTimeText(f.traffic->began));
        lines.Add("duration-ms", Ms(f.traffic->durationUs));
        AddDevice(lines, f.traffic->device);
    }
    AddOutcome(lines, f);
    if (f.exitCode) lines.Add("exit-code", *f.exitCode);
    if (f.command == "update") AddReadBack(lines, f);
    if (!f.traffic) return lines.Take();
    lines.Gap();

    lines.Comment("Per step: its time, requests, resends, failed sends, waits that ended without");
    lines.Comment("an answer, refusals by status (status:count), surplus and late replies.");
    AddPhases(lines, *f.traffic);
    lines.Gap();

    lines.Comment(
        "The last exchanges, oldest first: t is seconds from the start, wait-ms the time");
    lines.Comment("to the first answer (or until it was given up); a resend repeats the request");
    lines.Comment("before it.");
    lines.Add("exchanges", f.traffic->exchanges);
    lines.Add("exchanges.listed", static_cast<std::int64_t>(f.traffic->last.size()));
    for (const engine::ExchangeRecord& r : f.traffic->last) {
        lines.Add("exchange." + std::to_string(r.number), ExchangeFields(r));
    }
    return lines.Take();
}

}  // namespace tq5::app
