#pragma once
// Everything a procedure (identification, flash steps, update, version check) works with.
// The owner of the window keeps these objects alive for as long as any worker may run; a
// procedure receives them as one small struct of references (its environment), copied
// into its thread.

#include "engine/seams/firmware_images.hpp"
#include "engine/seams/host.hpp"
#include "engine/state/port_session.hpp"
#include "engine/state/update_context.hpp"
#include "engine/state/version_strings.hpp"
#include "engine/timing.hpp"

namespace tq5::engine {

class FlashReader;

struct ProcedureEnv {
    UpdateContext& context;
    Host& host;
    const FirmwareStore& firmware;
    Timing timing;
    PortSession& ports;
    VersionStrings& versions;
    // After writing, read every written region back and compare it with its image before
    // the device is told that the update is finished.
    bool verifyFlash = false;
    // The plan row a step runs for (set by the plan runner for its steps); null outside it.
    const int* planRow = nullptr;
    // How the update reads its flash back (set by the update when `verifyFlash` is on); the
    // write step also reads a block whose answer never came and whose resend was refused.
    FlashReader* reader = nullptr;
};

}  // namespace tq5::engine
