#pragma once
// Follows an update through the host operations it makes (counter, status line, progress
// bar) and turns them into what the console shows: the row, the status text, the bytes of
// the write in progress, the share of the whole update done, elapsed and remaining time.
// The share counts the bytes of the plan's write rows; a boot write that the plan skips is
// taken out of the total once the plan has moved past it.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/firmware_images.hpp"

namespace tq5::app::cli {

class ProgressTracker {
public:
    using Clock = std::chrono::steady_clock;

    ProgressTracker(const engine::FirmwareStore& firmware, Clock::time_point start);

    // Each returns true when the change is worth a line of its own in a log (a new row, a
    // new kind of status text, a write that has just begun or finished).
    bool OnCounter(std::string_view text);
    bool OnStatus(std::string_view text);
    bool OnRange(std::int32_t upper);
    bool OnPosition(std::int32_t position);

    // 0..1 over the bytes the plan writes.
    double Done() const;
    // "3/10  Data transmit  8192 / 283088   12288/283088 bytes  4%  0:03 elapsed  1:05 left"
    std::string Line(Clock::time_point now) const;

    const std::string& Status() const { return status_; }
    const std::string& Counter() const { return counter_; }
    bool InWriteRow() const;

    // "m:ss"
    static std::string Duration(std::chrono::seconds span);

private:
    std::uint32_t ImageSize(int imageId) const;
    void LeaveRow();

    const engine::FirmwareStore& firmware_;
    Clock::time_point start_;
    std::string counter_;
    std::string status_;
    int row_ = 0;        // 1..10 while the plan runs, 0 before
    int statusRow_ = 0;  // the row of the last status text
    bool rangeSeen_ = false;
    std::int64_t range_ = 0;
    std::int64_t position_ = 0;
    std::int64_t finishedBytes_ = 0;
    std::int64_t totalBytes_ = 0;
};

}  // namespace tq5::app::cli
