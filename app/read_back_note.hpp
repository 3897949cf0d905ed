#pragma once
// What an update that could not read the flash back tells its user, beside "Version update
// completed.": the command line prints it, the page shows it under the window.

#include <string>

#include "engine/outcome.hpp"

namespace tq5::app {

// The note for an update whose read-back check found no read the device serves; empty for
// any other read-back result.
std::string ReadBackNote(const engine::ReadBack& readBack);

}  // namespace tq5::app
