#include "app/cli/failure_report.hpp"

#include <cstdio>

#include "app/cli/phase_words.hpp"

namespace tq5::app::cli {
namespace {

using engine::Cause;
using engine::Phase;

std::string Hex(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06X", address);
    return text;
}

std::string Why(const engine::Outcome& o) {
    switch (o.cause) {
        case Cause::TimedOut:
            return "no answer came in time";
        case Cause::SendFailed:
            return "the request could not be sent through the MIDI output";
        case Cause::DeviceStatus:
            return "the TQ-5 answered with status " + std::to_string(o.status);
        case Cause::BrokenReply:
            return o.status != 0 ? "the answer carried status " + std::to_string(o.status) +
                                       " instead of the data"
                                 : "the answer failed its checks";
        case Cause::MissingImage:
            return "image " + std::to_string(o.imageId) + " is missing from this program";
        default:
            return {};
    }
}

std::string Where(const engine::Outcome& o, const engine::Progress& last) {
    std::string words(Doing(o.phase));
    if (o.phase == Phase::Write) words += " image " + std::to_string(o.imageId);
    if (o.phase == Phase::Verify) words += " at " + Hex(o.address);
    if ((o.phase == Phase::Erase || o.phase == Phase::Write) && last.row > 0) {
        words += " (" + std::to_string(last.row) + "/" + std::to_string(last.rows) + ")";
    }
    return words;
}

}  // namespace

std::string ExplainFailure(const engine::Outcome& outcome, const engine::Progress& last) {
    if (outcome.completed) return {};
    if (outcome.cause == Cause::DuplicateReplies) {
        return "the TQ-5's replies arrived twice, so it could not be told which request each "
               "one answered. Check that only one MIDI route connects the TQ-5 and this "
               "program (no second cable, MIDI merge or thru loop), then run `tq5-updater "
               "update` again.";
    }
    if (outcome.cause == Cause::LateReply) {
        return "the TQ-5 answered a request after the updater had given the answer up for lost "
               "and sent the request again, so it could not be told which request each answer "
               "belonged to. The TQ-5 or the MIDI connection answers slowly; run `tq5-updater "
               "update` again.";
    }
    if (outcome.cause == Cause::Mismatch) {
        return "the read-back check found the TQ-5's flash different from image " +
               std::to_string(outcome.imageId) + " at flash address " + Hex(outcome.address) +
               ". Run `tq5-updater update` again.";
    }
    const std::string why = Why(outcome);
    if (why.empty()) return {};  // the message names the failure itself
    return "the update stopped while " + Where(outcome, last) + ": " + why + ".";
}

std::string ExplainDeviceGone(const engine::Progress& last, const std::string& command) {
    std::string words = "the TQ-5 went away while " + std::string(Doing(last.phase));
    if ((last.phase == Phase::Erase || last.phase == Phase::Write) && last.row > 0) {
        words += " (" + std::to_string(last.row) + "/" + std::to_string(last.rows) + ")";
    }
    return words +
           ": its MIDI device is gone (unplugged, or switched off). Connect it again and run "
           "`tq5-updater " +
           command + "`: that completes the " + (command == "update" ? "update" : "check") + ".";
}

}  // namespace tq5::app::cli
