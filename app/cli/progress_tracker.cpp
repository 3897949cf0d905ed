#include "app/cli/progress_tracker.hpp"

#include <algorithm>
#include <cstdio>

#include "app/cli/phase_words.hpp"

namespace tq5::app::cli {

using engine::Phase;

ProgressTracker::ProgressTracker(const engine::FirmwareStore& firmware, Clock::time_point start,
                                 bool verify)
    : start_(start), verify_(verify) {
    for (const auto& row : engine::kFlashPlan) {
        if (row.type != engine::FlashStepType::Write) continue;
        const auto image = firmware.Locate(static_cast<int>(row.resourceId));
        writeTotal_ += row.size != 0 ? row.size : (image ? image->size : 0);
    }
}

ProgressTracker::Change ProgressTracker::OnProgress(const engine::Progress& progress) {
    const bool newStep = !started_ || progress.phase != last_.phase || progress.row != last_.row;
    started_ = true;
    if (newStep && last_.phase == Phase::Write) writtenBefore_ += last_.total;
    if (newStep) status_.clear();  // the new step sets its own text next
    if (progress.skipped && progress.phase == Phase::Write) writeTotal_ -= progress.total;
    if (progress.phase == Phase::Verify) verifyTotal_ = progress.total;
    const bool finished = (progress.phase == Phase::Write || progress.phase == Phase::Verify) &&
                          progress.total > 0 && progress.done >= progress.total &&
                          last_.done < progress.total;
    last_ = progress;
    if (progress.skipped) last_.done = last_.total = 0;  // nothing of it is written
    if (finished) return Change::Finished;
    return newStep && !progress.skipped ? Change::Began : Change::None;
}

double ProgressTracker::Done() const {
    const std::int64_t verifyTotal = !verify_ ? 0 : verifyTotal_ >= 0 ? verifyTotal_ : writeTotal_;
    const std::int64_t total = writeTotal_ + verifyTotal;
    if (total <= 0) return 0.0;
    std::int64_t done = writtenBefore_;
    if (last_.phase == Phase::Write) done += last_.done;
    if (last_.phase == Phase::Verify) done = writeTotal_ + last_.done;
    if (last_.phase == Phase::Finish) done = total;
    return std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0);
}

std::string ProgressTracker::Counter() const {
    const int rows = last_.rows > 0 ? last_.rows : static_cast<int>(engine::kFlashPlan.size());
    // Before the plan the counter stands at 0; after it, at its last row.
    int row = last_.row;
    if (last_.phase == Phase::Verify || last_.phase == Phase::Finish) row = rows;
    return std::to_string(row) + "/" + std::to_string(rows);
}

std::string ProgressTracker::Step() const {
    if (last_.phase == Phase::Verify) return "Verifying flash";
    if (!status_.empty()) return status_;
    switch (last_.phase) {
        case Phase::Identify:
            return "Identifying the TQ-5";
        case Phase::BootVersion:
            return "Reading the boot loader version";
        case Phase::Finish:
            return "Finishing";
        default:
            return {};
    }
}

std::string ProgressTracker::Beginning() const {
    std::string words(Doing(last_.phase));
    const bool bytes =
        last_.phase == Phase::Erase || last_.phase == Phase::Write || last_.phase == Phase::Verify;
    if (bytes) {
        // Appended piece by piece: GCC 12 at -O3 mistakes `" " + std::to_string(...)` for an
        // overlapping copy (-Wrestrict).
        words += ' ';
        words += std::to_string(last_.total);
        words += " bytes";
    }
    return words;
}

std::string ProgressTracker::Duration(std::chrono::seconds span) {
    const long long total = std::max<long long>(0, span.count());
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

std::string ProgressTracker::Line(Clock::time_point now) const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start_);
    std::string line = Counter();
    const std::string step = Step();
    if (!step.empty()) line += "  " + step;
    if ((last_.phase == Phase::Write || last_.phase == Phase::Verify) && last_.total > 0) {
        line += "  " + std::to_string(last_.done) + "/" + std::to_string(last_.total) + " bytes";
    }
    const double done = Done();
    char percent[16];
    std::snprintf(percent, sizeof percent, "  %3d%%", static_cast<int>(done * 100.0));
    line += percent;
    line += "  " + Duration(elapsed) + " elapsed";
    if (done >= 0.01 && done < 1.0) {
        const auto left = std::chrono::duration<double>(elapsed) * ((1.0 - done) / done);
        line += "  " + Duration(std::chrono::duration_cast<std::chrono::seconds>(left)) + " left";
    }
    return line;
}

}  // namespace tq5::app::cli
