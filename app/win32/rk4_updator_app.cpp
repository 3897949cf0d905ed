#include "app/win32/rk4_updator_app.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "app/instance_number.hpp"
#include "app/rk4_updator_dlg.hpp"
#include "app/win32/rk4_updator_dlg_view.hpp"

namespace tq5::app {
namespace {

// The application's name, as message boxes of the program caption it: the executable's file
// name without its extension.
std::string ApplicationName() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path);
    const std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

}  // namespace

CRk4UpdatorApp::CRk4UpdatorApp(SettingsFactory settings) : settings_(std::move(settings)) {}

bool CRk4UpdatorApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    instanceNumber_ = ClaimInstanceNumber(instanceLocks_);
    if (instanceNumber_ == 0) {
        MessageBoxA(nullptr, TooManyInstancesText().c_str(), ApplicationName().c_str(),
                    MB_OK | MB_ICONEXCLAMATION);
        return false;
    }

    const CoreSettings settings = settings_(instanceNumber_);
    CRk4UpdatorDlgView view;
    CRk4UpdatorDlg dialog(view, instanceNumber_, settings);
    view.DoModal(dialog);  // how it was closed does not matter
    return false;
}

}  // namespace tq5::app
