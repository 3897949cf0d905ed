#pragma once
// What tq5-updater adds on its own line to the error message of a failed update: where the
// update stopped, why, and what the user can do, from the procedure's outcome as data.

#include <string>

#include "engine/outcome.hpp"

namespace tq5::app::cli {

// One line without the program's name, or empty when the message says all there is.
// `last` is the last progress the update reported.
std::string ExplainFailure(const engine::Outcome& outcome, const engine::Progress& last);

// The line for a procedure that failed because the TQ-5's MIDI device vanished (unplugged,
// or switched off) while it was `last.phase`; `command` is what completes it once the TQ-5
// is back ("update", "version").
std::string ExplainDeviceGone(const engine::Progress& last, const std::string& command);

}  // namespace tq5::app::cli
