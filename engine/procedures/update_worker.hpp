#pragma once
// The firmware update procedure, run on its own worker thread after the window has opened
// the ports (OpenSelectedPorts), locked the controls and reset the reply event.

#include "engine/procedures/procedure_env.hpp"

namespace tq5::engine {

// Identification, update mode, flash plan, read-back check, finish. How it ended goes to the
// host once, at the end: the outcome, and the window's texts and boxes; nothing when the
// window is closing.
void UpdateWorker(const ProcedureEnv& env);

}  // namespace tq5::engine
