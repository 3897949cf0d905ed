#pragma once
// CAboutDlg: the about box of dialog template 100, shown modally over the main dialog from
// its system menu. Its title field (control 1003) shows the program's plain title.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <string_view>

namespace tq5::app {

class CAboutDlg {
public:
    explicit CAboutDlg(std::string_view titleText);
    // Runs the box's modal loop over `owner` (disabled meanwhile); OK, Enter, Esc and the
    // close box end it. Returns the box's result, which nobody looks at.
    INT_PTR DoModal(HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog(HWND window);

    std::string titleText_;
};

}  // namespace tq5::app
