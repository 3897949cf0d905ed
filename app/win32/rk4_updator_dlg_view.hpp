#pragma once
// The Win32 side of CRk4UpdatorDlg: dialog template 103 run modally, its message map, and
// the controls that the dialog's logic drives through DialogControls. Worker threads reach
// the controls only through GuiThreadCalls, which carries each call to the window's thread
// and lets go of the workers once the window is being destroyed.
//
// Message map: WM_SYSCOMMAND -> OnSysCommand, WM_PAINT -> OnPaint, WM_QUERYDRAGICON ->
// OnQueryDragIcon, WM_VERSION_CHECK_DONE (0x8001) -> OnVersionCheckDone, button clicks of
// controls 1, 1004, 1007 and the cancel command (2) -> OnCommand, WM_DESTROY -> OnDestroy.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <string_view>

#include "app/dialog_controls.hpp"
#include "app/win32/gui_thread_calls.hpp"

namespace tq5::app {

class CRk4UpdatorDlg;

inline constexpr UINT WM_VERSION_CHECK_DONE = 0x8001;
// Rings the window when worker calls are queued for it.
inline constexpr UINT WM_RUN_WORKER_CALLS = WM_APP + 0x100;

class CRk4UpdatorDlgView final : public DialogControls {
public:
    // Loads the application icon (resource 128).
    CRk4UpdatorDlgView();
    CRk4UpdatorDlgView(const CRk4UpdatorDlgView&) = delete;
    CRk4UpdatorDlgView& operator=(const CRk4UpdatorDlgView&) = delete;

    // Runs template 103 modally with no parent, driving `dialog`; returns how it was closed.
    INT_PTR DoModal(CRk4UpdatorDlg& dialog);
    HWND Window() const { return window_; }

    // --- DialogControls ----------------------------------------------------------------
    void ResetList(PortList list) override;
    void AddListEntry(PortList list, std::string_view text) override;
    void SetListSelection(PortList list, std::int32_t index) override;
    std::int32_t GetListSelection(PortList list) override;
    void EnableControl(Control control, bool enabled) override;
    void SetStatusText(std::string_view text) override;
    void SetCounterText(std::string_view text) override;
    void SetProgressRange(std::int32_t upper) override;
    void SetProgressPos(std::int32_t position) override;
    void SetTitle(std::string_view title) override;
    void ShowMessageBox(std::string_view text, std::string_view caption,
                        engine::MessageIcon icon) override;
    void AddSystemMenuEntry(std::uint32_t commandId, std::string_view text) override;
    void ShowAboutBox(std::string_view titleText) override;
    void PostVersionCheckDone(std::int32_t result) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    BOOL OnPaint();
    HCURSOR OnQueryDragIcon() const;
    void OnDestroy();
    // Exit, Esc, the close box or WM_CLOSE, also while a box is up: ends the modal loop and
    // every box the window owns on its thread (a worker's message box, the about box). Their
    // modal loops run inside this window's handlers, so otherwise the window's own loop
    // could not end, nor the program, until someone dismissed them.
    void OnClose(int result);
    void EndOwnedBoxes();
    // Disabling the control with the focus would leave the window with none, and Tab, Enter
    // and Esc dead until a click: before control `id` is disabled, its focus goes to Exit,
    // which is never disabled. When `id` is enabled again and Exit still has that focus, it
    // goes back to `id`.
    void MoveFocusOff(int id);
    void GiveFocusBack(int id);

    HWND Item(int id) const { return GetDlgItem(window_, id); }
    static int ListId(PortList list);
    static int ControlId(Control control);

    CRk4UpdatorDlg* dialog_ = nullptr;
    HWND window_ = nullptr;
    HICON icon_ = nullptr;
    int focusLentBy_ = 0;  // GUI thread: the control whose focus went to Exit; 0: none
    GuiThreadCalls calls_;
};

}  // namespace tq5::app
