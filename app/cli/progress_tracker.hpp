#pragma once
// Follows an update through the progress its procedure reports and turns it into what the
// console shows: the row, the status text, the bytes of the step in progress, the share of
// the whole update done, elapsed and remaining time. The share counts the bytes the plan
// writes and, with the read-back check, the same bytes read back; a boot write that the plan
// skips is taken out of the total.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/outcome.hpp"
#include "engine/seams/firmware_images.hpp"

namespace tq5::app::cli {

class ProgressTracker {
public:
    using Clock = std::chrono::steady_clock;

    // `verify`: the update reads the written flash back after writing it.
    ProgressTracker(const engine::FirmwareStore& firmware, Clock::time_point start, bool verify);

    // What a report means to a log: a step has begun, a write or the check has finished.
    enum class Change { None, Began, Finished };
    Change OnProgress(const engine::Progress& progress);
    // The status line's text, shown as it is.
    void OnStatus(std::string_view text) { status_ = std::string(text); }

    // 0..1 over the bytes the update writes (and reads back).
    double Done() const;
    // "3/10  Data transmit  8192 / 283088   12288/283088 bytes  4%  0:03 elapsed  1:05 left"
    std::string Line(Clock::time_point now) const;
    // "3/10": the row in progress.
    std::string Counter() const;
    // What the line shows as the step: the status text the step set, or else its own words.
    std::string Step() const;
    // What a log says when a step begins: "writing 3297280 bytes".
    std::string Beginning() const;
    const engine::Progress& Last() const { return last_; }

    // "m:ss"
    static std::string Duration(std::chrono::seconds span);

private:
    const Clock::time_point start_;
    const bool verify_;
    engine::Progress last_;
    bool started_ = false;
    std::string status_;
    std::int64_t writeTotal_ = 0;     // bytes of the plan's write rows, skipped ones left out
    std::int64_t writtenBefore_ = 0;  // of the write rows finished
    std::int64_t verifyTotal_ = -1;   // known once the check begins
};

}  // namespace tq5::app::cli
