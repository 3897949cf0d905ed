#pragma once
// Ctrl-C (and SIGTERM) during a procedure act as closing the updater's window: the first one
// is noted here and the running procedure is ended at its next wait; a second one ends the
// program the system's way.

namespace tq5::app::cli {

void CatchInterrupts();
bool Interrupted();

}  // namespace tq5::app::cli
