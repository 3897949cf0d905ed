#pragma once
// Opening the chosen ports before a procedure starts, and closing them after a version check.

#include "engine/procedures/procedure_env.hpp"

namespace tq5::engine {

// Refuses with "In Progress." while a procedure runs; otherwise reopens the output on the
// MIDI OUT selection, then the input on the MIDI IN selection. True when both are open; false
// after an error message (an output opened before an input failure stays open). The new port
// generation is env.ports.Generation() afterwards.
[[nodiscard]] bool OpenSelectedPorts(const ProcedureEnv& env);

// Closes the output, then the input.
void ClosePorts(PortSession& ports);

}  // namespace tq5::engine
