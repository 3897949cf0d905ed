#include "app/cli/progress_tracker.hpp"

#include <algorithm>
#include <cstdio>

namespace tq5::app::cli {
namespace {

// Status texts of the same kind differ only in their numbers ("Data transmit  0 / 4096 ").
std::string KindOf(std::string_view text) {
    std::string kind;
    for (const char c : text) {
        if (c < '0' || c > '9') kind += c;
    }
    return kind;
}

}  // namespace

ProgressTracker::ProgressTracker(const engine::FirmwareStore& firmware, Clock::time_point start)
    : firmware_(firmware), start_(start) {
    for (const auto& row : engine::kFlashPlan) {
        if (row.type == engine::FlashStepType::Write) {
            totalBytes_ += row.size != 0 ? row.size : ImageSize(static_cast<int>(row.resourceId));
        }
    }
}

std::uint32_t ProgressTracker::ImageSize(int imageId) const {
    const auto image = firmware_.Locate(imageId);
    return image ? image->size : 0;
}

bool ProgressTracker::InWriteRow() const {
    return row_ >= 1 && row_ <= static_cast<int>(engine::kFlashPlan.size()) &&
           engine::kFlashPlan[static_cast<std::size_t>(row_ - 1)].type ==
               engine::FlashStepType::Write;
}

void ProgressTracker::LeaveRow() {
    if (!InWriteRow()) return;
    if (rangeSeen_) {
        finishedBytes_ += range_;
    } else {
        // The plan passed this write without sending anything (a boot write it skips).
        const auto& row = engine::kFlashPlan[static_cast<std::size_t>(row_ - 1)];
        totalBytes_ -= row.size != 0 ? row.size : ImageSize(static_cast<int>(row.resourceId));
    }
}

bool ProgressTracker::OnCounter(std::string_view text) {
    int row = 0;
    int rows = 0;
    const std::string copy(text);
    if (std::sscanf(copy.c_str(), "%d/%d", &row, &rows) != 2) row = 0;
    const bool changed = text != counter_;
    counter_ = copy;
    if (row != row_) {
        LeaveRow();
        row_ = row;
        rangeSeen_ = false;
        range_ = 0;
        position_ = 0;
    }
    return changed;
}

bool ProgressTracker::OnStatus(std::string_view text) {
    const bool notable = KindOf(text) != KindOf(status_) || row_ != statusRow_;
    status_ = std::string(text);
    statusRow_ = row_;
    return notable && !text.empty();
}

bool ProgressTracker::OnRange(std::int32_t upper) {
    range_ = upper;
    position_ = 0;
    rangeSeen_ = InWriteRow();
    return rangeSeen_;
}

bool ProgressTracker::OnPosition(std::int32_t position) {
    position_ = position;
    return rangeSeen_ && position_ >= range_;
}

double ProgressTracker::Done() const {
    if (totalBytes_ <= 0) return 0.0;
    const std::int64_t current = rangeSeen_ ? std::min(position_, range_) : 0;
    return std::clamp(static_cast<double>(finishedBytes_ + current) /
                          static_cast<double>(totalBytes_),
                      0.0, 1.0);
}

std::string ProgressTracker::Duration(std::chrono::seconds span) {
    const long long total = std::max<long long>(0, span.count());
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

std::string ProgressTracker::Line(Clock::time_point now) const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start_);
    std::string line = counter_.empty() ? std::string("0/10") : counter_;
    if (!status_.empty()) line += "  " + status_;
    if (rangeSeen_) {
        line += "  " + std::to_string(position_) + "/" + std::to_string(range_) + " bytes";
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
