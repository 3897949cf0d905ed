#pragma once
// tq5-devsim's flash report on disk. A reader must never see half a report, so it is
// written to a temporary file in the target's folder and renamed over the target. The
// temporary file is created new (never opened through a name someone else planted there),
// and a target that exists as anything but a regular file (a link, a folder, a device) is
// left alone: the program only ever replaces a report of its own kind.

#include <string>

namespace tq5::sim {

// Empty when `path` may be written as a state file; otherwise why not.
std::string StateFileProblem(const std::string& path);

// Writes `report` to `path` as described. False, with the reason in `problem`, when it can't.
[[nodiscard]] bool WriteStateFile(const std::string& path, const std::string& report,
                                  std::string& problem);

}  // namespace tq5::sim
