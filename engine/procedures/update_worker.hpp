#pragma once
// The firmware update procedure, run on its own worker thread after the window has opened
// the ports (OpenSelectedPorts), locked the controls and reset the reply event.

#include "engine/procedures/procedure_env.hpp"

namespace tq5::engine {

// Identification, update mode, flash plan, finish. Returns 0 whatever the outcome.
int UpdateWorker(const ProcedureEnv& env);

}  // namespace tq5::engine
