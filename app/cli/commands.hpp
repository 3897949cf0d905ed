#pragma once
// The three commands of tq5-updater. Each claims an instance number first, as the window
// does at start-up, and returns the program's exit code.

#include <cstdio>

#include "app/cli/cli_options.hpp"

namespace tq5::app::cli {

int RunCommand(const CliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace tq5::app::cli
