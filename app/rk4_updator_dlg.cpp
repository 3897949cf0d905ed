#include "app/rk4_updator_dlg.hpp"

#include <string>
#include <vector>

#include "app/instance_number.hpp"
#include "app/port_names.hpp"
#include "app/preferred_ports.hpp"
#include "engine/procedures/version_check.hpp"

namespace tq5::app {
CRk4UpdatorDlg::CRk4UpdatorDlg(DialogControls& view, int instanceNumber,
                               const CoreSettings& settings)
    : view_(view), instanceNumber_(instanceNumber), core_(settings, *this) {}

// The core is closed while this object is whole: a worker's host call that is still under way
// finishes against a complete dialog, and none starts afterwards.
CRk4UpdatorDlg::~CRk4UpdatorDlg() { core_.Close(); }

bool CRk4UpdatorDlg::OnInitDialog() {
    const std::string_view about = engine::LoadText(engine::IDS_ABOUTBOX);
    if (!about.empty()) view_.AddSystemMenuEntry(kAboutCommandId, about);
    FillPortLists();
    core_.StartPolling();
    view_.SetProgressRange(100);
    view_.SetTitle(InstanceTitle(instanceNumber_));
    return true;
}

CommandResult CRk4UpdatorDlg::OnCommand(std::uint32_t commandId) {
    switch (commandId) {
        case kIdExecute:
            OnExecute();
            return CommandResult::Handled;
        case kIdRescanDevice:
            OnRescanDevice();
            return CommandResult::Handled;
        case kIdVersionCheck:
            OnVersionCheck();
            return CommandResult::Handled;
        case kIdExit:
            return CommandResult::CloseDialog;
        default:
            return CommandResult::NotHandled;
    }
}

void CRk4UpdatorDlg::FillPortLists() {
    const std::vector<std::string> outputs = ListDeviceNames(core_.Output());
    view_.ResetList(PortList::Output);
    for (const auto& name : outputs) view_.AddListEntry(PortList::Output, name);

    const std::vector<std::string> inputs = ListDeviceNames(core_.Input());
    view_.ResetList(PortList::Input);
    for (const auto& name : inputs) view_.AddListEntry(PortList::Input, name);

    view_.SetListSelection(PortList::Output, FindPreferredPort(outputs, instanceNumber_));
    view_.SetListSelection(PortList::Input, FindPreferredPort(inputs, instanceNumber_));
}

bool CRk4UpdatorDlg::OpenSelectedPorts() { return core_.OpenSelectedPorts(); }

void CRk4UpdatorDlg::OnExecute() {
    if (!OpenSelectedPorts()) return;
    LockControls();
    core_.StartUpdate();
}

void CRk4UpdatorDlg::OnVersionCheck() {
    if (!OpenSelectedPorts()) return;
    LockControls();
    core_.StartVersionCheck();
}

void CRk4UpdatorDlg::OnRescanDevice() {
    FillPortLists();
    EnableActions(true);
}

std::intptr_t CRk4UpdatorDlg::OnVersionCheckDone(std::uintptr_t, std::intptr_t lParam) {
    // The posted message carries the result as Windows code does: 0 read, -1 not.
    engine::OnVersionCheckDone(*this, core_.Versions(), lParam == 0);
    return 0;
}

bool CRk4UpdatorDlg::OnSysCommand(std::uint32_t commandId, std::intptr_t) {
    if ((commandId & 0xFFF0u) != kAboutCommandId) return false;
    view_.ShowAboutBox(kAboutTitleText);
    return true;
}

void CRk4UpdatorDlg::OnDestroy() { core_.Close(); }

// --- host operations ----------------------------------------------------------------------

void CRk4UpdatorDlg::ShowMessageBox(std::string_view text, std::string_view caption,
                                    engine::MessageIcon icon) {
    view_.ShowMessageBox(text, caption, icon);
}

void CRk4UpdatorDlg::SetStatusText(std::string_view text) { view_.SetStatusText(text); }

void CRk4UpdatorDlg::SetCounterText(std::string_view text) { view_.SetCounterText(text); }

void CRk4UpdatorDlg::SetProgressRange(std::int32_t upper) { view_.SetProgressRange(upper); }

void CRk4UpdatorDlg::SetProgressPos(std::int32_t position) { view_.SetProgressPos(position); }

void CRk4UpdatorDlg::LockControls() {
    for (const Control control : {Control::InputList, Control::OutputList, Control::Execute,
                                  Control::RescanDevice, Control::VersionCheck}) {
        view_.EnableControl(control, false);
    }
    core_.Context().SetBusy(true);
}

void CRk4UpdatorDlg::ReleaseControls() {
    for (const Control control : {Control::InputList, Control::OutputList, Control::VersionCheck,
                                  Control::Execute, Control::RescanDevice}) {
        view_.EnableControl(control, true);
    }
    core_.Context().SetBusy(false);
}

void CRk4UpdatorDlg::EnableActions(bool on) {
    view_.EnableControl(Control::Execute, on);
    view_.EnableControl(Control::VersionCheck, on);
}

std::int32_t CRk4UpdatorDlg::GetSelectedOutput() {
    return view_.GetListSelection(PortList::Output);
}

std::int32_t CRk4UpdatorDlg::GetSelectedInput() { return view_.GetListSelection(PortList::Input); }

void CRk4UpdatorDlg::PostVersionCheckDone(bool versionsRead) {
    view_.PostVersionCheckDone(versionsRead ? 0 : -1);
}

void CRk4UpdatorDlg::ReportProgress(const engine::Progress& progress) {
    view_.ReportProgress(progress);
}

void CRk4UpdatorDlg::ReportOutcome(const engine::Outcome& outcome) { view_.ReportOutcome(outcome); }

}  // namespace tq5::app
