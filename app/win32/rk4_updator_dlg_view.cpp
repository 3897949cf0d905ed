#include "app/win32/rk4_updator_dlg_view.hpp"

#include <commctrl.h>

#include <cstring>
#include <string>

#include "app/rk4_updator_dlg.hpp"
#include "app/win32/about_dlg.hpp"
#include "app/win32/resource.h"
#include "app/win32/window_placement.hpp"

namespace tq5::app {

CRk4UpdatorDlgView::CRk4UpdatorDlgView()
    : icon_(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

INT_PTR CRk4UpdatorDlgView::DoModal(CRk4UpdatorDlg& dialog) {
    dialog_ = &dialog;
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_RK4UPDATOR_DIALOG),
                           nullptr, &CRk4UpdatorDlgView::DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CRk4UpdatorDlgView::DialogProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CRk4UpdatorDlgView*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        self->window_ = window;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CRk4UpdatorDlgView*>(GetWindowLongPtrA(window, DWLP_USER));
    if (self == nullptr) return FALSE;
    return self->OnMessage(message, wParam, lParam);
}

INT_PTR CRk4UpdatorDlgView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SYSCOMMAND:
            return dialog_->OnSysCommand(static_cast<std::uint32_t>(wParam), lParam) ? TRUE : FALSE;
        case WM_PAINT:
            return OnPaint();
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
        case WM_VERSION_CHECK_DONE:
            dialog_->OnVersionCheckDone(wParam, lParam);
            return TRUE;
        case WM_RUN_WORKER_CALLS:
            calls_.RunPending();
            return TRUE;
        case WM_COMMAND: {
            // Button clicks, Enter (1) and Esc / the close box (2); list notifications are not
            // commands of the dialog.
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            switch (dialog_->OnCommand(LOWORD(wParam))) {
                case CommandResult::Handled:
                    return TRUE;
                case CommandResult::CloseDialog:
                    OnClose(LOWORD(wParam));
                    return TRUE;
                case CommandResult::NotHandled:
                    return FALSE;
            }
            return FALSE;
        }
        case WM_DESTROY:
            OnDestroy();
            return FALSE;
        default:
            return FALSE;
    }
}

BOOL CRk4UpdatorDlgView::OnInitDialog() {
    calls_.Attach(window_, WM_RUN_WORKER_CALLS);
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    const BOOL result = dialog_->OnInitDialog() ? TRUE : FALSE;
    // Template 103 gives Rescan Device the default-button style as well as Execute, and the
    // dialog manager makes the later one the default: Enter would rescan and drop the ports
    // the user chose. Execute is the dialog's OK command; it becomes the default, and Rescan
    // Device loses the default frame.
    SendMessageA(window_, DM_SETDEFID, IDOK, 0);
    CentreOnPointerMonitor(window_);
    // True: the platform gives the focus to the first tab stop, Execute.
    return result;
}

BOOL CRk4UpdatorDlgView::OnPaint() {
    if (!IsIconic(window_)) return FALSE;  // the dialog paints itself
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    SendMessageA(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(window_, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(window_, &paint);
    return TRUE;
}

HCURSOR CRk4UpdatorDlgView::OnQueryDragIcon() const { return static_cast<HCURSOR>(icon_); }

void CRk4UpdatorDlgView::OnDestroy() {
    // Workers are let go first: the dialog's OnDestroy waits for host calls in progress, and
    // those may be waiting for this thread.
    calls_.Close();
    dialog_->OnDestroy();
}

void CRk4UpdatorDlgView::OnClose(int result) {
    // No worker call reaches the window from now on: one that a box would carry could not
    // be answered by anyone, and one that waits is let go at once.
    calls_.Close();
    EndDialog(window_, result);
    EndOwnedBoxes();
}

void CRk4UpdatorDlgView::EndOwnedBoxes() {
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND box, LPARAM owner) -> BOOL {
            char className[16] = {};
            GetClassNameA(box, className, sizeof className);
            // "#32770": the dialog class, that of message boxes and of the about box.
            if (GetWindow(box, GW_OWNER) == reinterpret_cast<HWND>(owner) &&
                std::strcmp(className, "#32770") == 0) {
                EndDialog(box, IDCANCEL);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(window_));
}

void CRk4UpdatorDlgView::MoveFocusOff(int id) {
    const HWND item = Item(id);
    const HWND focus = GetFocus();
    if (focus == nullptr || (focus != item && !IsChild(item, focus))) return;
    focusLentBy_ = id;
    // SetFocus rather than WM_NEXTDLGCTL: Exit takes the focus but not the default frame,
    // so that Enter (Execute, disabled now) cannot close the window in the middle of a
    // procedure. DM_SETDEFID takes the frame off a button that had it for having the focus.
    SetFocus(Item(IDCANCEL));
    SendMessageA(window_, DM_SETDEFID, IDOK, 0);
}

void CRk4UpdatorDlgView::GiveFocusBack(int id) {
    if (id != focusLentBy_) return;
    focusLentBy_ = 0;
    // Only when the focus is still where it was put; the user may have moved it since.
    if (GetFocus() != Item(IDCANCEL)) return;
    SendMessageA(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
}

int CRk4UpdatorDlgView::ListId(PortList list) {
    return list == PortList::Input ? IDC_MIDI_IN_LIST : IDC_MIDI_OUT_LIST;
}

int CRk4UpdatorDlgView::ControlId(Control control) {
    switch (control) {
        case Control::InputList:
            return IDC_MIDI_IN_LIST;
        case Control::OutputList:
            return IDC_MIDI_OUT_LIST;
        case Control::Execute:
            return IDOK;
        case Control::RescanDevice:
            return IDC_RESCAN_DEVICE;
        case Control::VersionCheck:
            return IDC_VERSION_CHECK;
    }
    return 0;
}

// --- GUI thread only ---------------------------------------------------------------------

void CRk4UpdatorDlgView::ResetList(PortList list) {
    SendMessageA(Item(ListId(list)), CB_RESETCONTENT, 0, 0);
}

void CRk4UpdatorDlgView::AddListEntry(PortList list, std::string_view text) {
    const std::string entry(text);
    SendMessageA(Item(ListId(list)), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
}

void CRk4UpdatorDlgView::SetListSelection(PortList list, std::int32_t index) {
    SendMessageA(Item(ListId(list)), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void CRk4UpdatorDlgView::SetTitle(std::string_view title) {
    SetWindowTextA(window_, std::string(title).c_str());
}

void CRk4UpdatorDlgView::AddSystemMenuEntry(std::uint32_t commandId, std::string_view text) {
    HMENU menu = GetSystemMenu(window_, FALSE);
    if (menu == nullptr) return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, commandId, std::string(text).c_str());
}

void CRk4UpdatorDlgView::ShowAboutBox(std::string_view titleText) {
    CAboutDlg about(titleText);
    about.DoModal(window_);
}

// --- any thread: carried to the GUI thread -----------------------------------------------

std::int32_t CRk4UpdatorDlgView::GetListSelection(PortList list) {
    const HWND box = Item(ListId(list));
    const auto index = calls_.Call<std::int32_t>([box] {
        return static_cast<std::int32_t>(SendMessageA(box, CB_GETCURSEL, 0, 0));  // CB_ERR: -1
    });
    return index.value_or(-1);
}

void CRk4UpdatorDlgView::EnableControl(Control control, bool enabled) {
    calls_.Run([this, id = ControlId(control), enabled] {
        if (!enabled) MoveFocusOff(id);
        EnableWindow(Item(id), enabled ? TRUE : FALSE);
        if (enabled) GiveFocusBack(id);
    });
}

void CRk4UpdatorDlgView::SetStatusText(std::string_view text) {
    calls_.Run([item = Item(IDC_STATUS_TEXT), text = std::string(text)] {
        SetWindowTextA(item, text.c_str());
    });
}

void CRk4UpdatorDlgView::SetCounterText(std::string_view text) {
    calls_.Run([item = Item(IDC_COUNTER_TEXT), text = std::string(text)] {
        SetWindowTextA(item, text.c_str());
    });
}

void CRk4UpdatorDlgView::SetProgressRange(std::int32_t upper) {
    calls_.Run([item = Item(IDC_PROGRESS), upper] {
        SendMessageA(item, PBM_SETRANGE32, 0, upper);  // 32-bit: a write of image 136 needs it
    });
}

void CRk4UpdatorDlgView::SetProgressPos(std::int32_t position) {
    calls_.Run([item = Item(IDC_PROGRESS), position] {
        SendMessageA(item, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    });
}

void CRk4UpdatorDlgView::ShowMessageBox(std::string_view text, std::string_view caption,
                                        engine::MessageIcon icon) {
    const UINT style =
        MB_OK | (icon == engine::MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION);
    calls_.Run([owner = window_, text = std::string(text), caption = std::string(caption), style] {
        MessageBoxA(owner, text.c_str(), caption.c_str(), style);
    });
}

void CRk4UpdatorDlgView::PostVersionCheckDone(std::int32_t result) {
    PostMessageA(window_, WM_VERSION_CHECK_DONE, 0, static_cast<LPARAM>(result));
}

}  // namespace tq5::app
