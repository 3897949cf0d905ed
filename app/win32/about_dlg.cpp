#include "app/win32/about_dlg.hpp"

#include "app/win32/resource.h"
#include "app/win32/window_placement.hpp"

namespace tq5::app {

CAboutDlg::CAboutDlg(std::string_view titleText) : titleText_(titleText) {}

INT_PTR CAboutDlg::DoModal(HWND owner) {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUTBOX), owner,
                           &CAboutDlg::DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CAboutDlg::OnInitDialog(HWND window) {
    SetDlgItemTextA(window, IDC_ABOUT_TITLE, titleText_.c_str());
    CentreOnOwner(window);  // over the main dialog, not on its port lists at the corner
    return TRUE;
}

INT_PTR CALLBACK CAboutDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return reinterpret_cast<CAboutDlg*>(lParam)->OnInitDialog(window);
        case WM_COMMAND:
            // No handlers of its own: OK and cancel end the box.
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(window, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace tq5::app
