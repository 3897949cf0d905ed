#pragma once
// Where tq5-updater puts its support reports and how it writes them. A report that cannot be
// written is said on stderr by the caller; it never changes how the run ends.

#include <chrono>
#include <string>

namespace tq5::app::cli {

struct ReportWritten {
    std::string path;
    std::string error;  // empty when the report was written
};

// --report FILE: the file is created, or replaced.
ReportWritten WriteReportTo(const std::string& path, const std::string& text);

// After a failed update without --report: a new file "failed-update-<UTC time>.txt" in
// ReportFolder() (made, for this user only, if it is missing); never a file that exists.
ReportWritten WriteNewReport(const std::string& text, std::chrono::system_clock::time_point now);

// $XDG_STATE_HOME/tq5-updater, or ~/.local/state/tq5-updater without it: the XDG base
// directories' place for what a program keeps between runs, such as logs and history.
std::string ReportFolder();

}  // namespace tq5::app::cli
