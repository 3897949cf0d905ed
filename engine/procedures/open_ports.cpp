#include "engine/procedures/open_ports.hpp"

#include "engine/string_table.hpp"

namespace tq5::engine {
namespace {

bool Refuse(Host& host, int stringId) {
    host.ShowMessageBox(LoadText(stringId), LoadText(IDS_ERROR_CAPTION), MessageIcon::Error);
    return false;
}

}  // namespace

bool OpenSelectedPorts(const ProcedureEnv& env) {
    if (env.context.IsBusy()) return Refuse(env.host, IDS_IN_PROGRESS);
    if (!env.ports.ReopenOutput(env.host.GetSelectedOutput())) {
        return Refuse(env.host, IDS_CANT_OPEN_OUT);
    }
    if (!env.ports.ReopenInput(env.host.GetSelectedInput())) {
        return Refuse(env.host, IDS_CANT_OPEN_IN);
    }
    return true;
}

void ClosePorts(PortSession& ports) { ports.Close(); }

}  // namespace tq5::engine
