#include "engine/procedures/open_ports.hpp"

#include "engine/string_table.hpp"

namespace tq5::engine {
namespace {

int Refuse(Host& host, int stringId) {
    host.ShowMessageBox(LoadText(stringId), LoadText(IDS_ERROR_CAPTION), MessageIcon::Error);
    return -1;
}

}  // namespace

int OpenSelectedPorts(const ProcedureEnv& env) {
    if (env.context.IsBusy()) return Refuse(env.host, IDS_IN_PROGRESS);
    if (env.ports.ReopenOutput(env.host.GetSelectedOutput()) != 1) {
        return Refuse(env.host, IDS_CANT_OPEN_OUT);
    }
    if (env.ports.ReopenInput(env.host.GetSelectedInput()) != 1) {
        return Refuse(env.host, IDS_CANT_OPEN_IN);
    }
    return 0;
}

int ClosePorts(PortSession& ports) {
    ports.Close();
    return 0;
}

}  // namespace tq5::engine
