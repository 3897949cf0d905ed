#pragma once
// What the main dialog's logic (CRk4UpdatorDlg) needs of its window: the controls of dialog
// template 103, the title, message boxes, the about box, the system-menu entry and the
// posted completion message. The Win32 view implements it with real controls; tests use a
// fake view. The logic never touches a platform header.
//
// Threads. The dialog's handlers run on the view's GUI thread. Worker threads reach the
// operations marked [any thread] through the dialog's host operations; the view carries each
// such call to its GUI thread (or otherwise makes it safe) and returns when it is done.
// PostVersionCheckDone returns at once. The other operations are called on the GUI thread.
// CRk4UpdatorDlg::OnDestroy waits for worker calls that are under way: before calling it,
// the view lets workers that wait for its GUI thread go (their calls then do nothing).

#include <cstdint>
#include <string_view>

#include "engine/seams/host.hpp"

namespace tq5::app {

// The two port lists: MIDI IN (control 1000) and MIDI OUT (control 1001).
enum class PortList { Input, Output };

// The controls that the dialog enables and disables. Exit (control 2) is never disabled.
enum class Control {
    InputList,     // 1000
    OutputList,    // 1001
    Execute,       // 1
    RescanDevice,  // 1004
    VersionCheck,  // 1007
};

// The system-menu command of the About entry.
inline constexpr std::uint32_t kAboutCommandId = 16;

class DialogControls {
public:
    virtual ~DialogControls() = default;

    // --- port lists (GUI thread) -------------------------------------------------------
    // Empties the list; it then has no selection.
    virtual void ResetList(PortList list) = 0;
    // Appends one entry at the end (the lists are unsorted).
    virtual void AddListEntry(PortList list, std::string_view text) = 0;
    // Makes entry `index` the current selection; -1 leaves the list with no selection.
    virtual void SetListSelection(PortList list, std::int32_t index) = 0;
    // [any thread] The current selection's index, -1 when nothing is selected.
    virtual std::int32_t GetListSelection(PortList list) = 0;

    // --- controls written by the procedures ----------------------------------------------
    virtual void EnableControl(Control control, bool enabled) = 0;  // [any thread]
    virtual void SetStatusText(std::string_view text) = 0;          // [any thread] 1003
    virtual void SetCounterText(std::string_view text) = 0;         // [any thread] 1006
    virtual void SetProgressRange(std::int32_t upper) = 0;          // [any thread] 0..upper
    virtual void SetProgressPos(std::int32_t position) = 0;         // [any thread]

    // --- window ------------------------------------------------------------------------
    virtual void SetTitle(std::string_view title) = 0;
    // [any thread] Modal box owned by the dialog, OK button; returns once dismissed.
    virtual void ShowMessageBox(std::string_view text, std::string_view caption,
                                engine::MessageIcon icon) = 0;
    // Appends a separator and then the entry `text` with `commandId` to the system menu;
    // nothing when the window has no system menu.
    virtual void AddSystemMenuEntry(std::uint32_t commandId, std::string_view text) = 0;
    // Shows the about box (template 100) modally with `titleText` in its title field.
    virtual void ShowAboutBox(std::string_view titleText) = 0;
    // [any thread] Posts WM_VERSION_CHECK_DONE (0x8001, wParam 0, lParam result). When the
    // GUI thread receives it, the view calls CRk4UpdatorDlg::OnVersionCheckDone(0, result).
    virtual void PostVersionCheckDone(std::int32_t result) = 0;

    // [any thread] The procedures' progress and outcome as data (engine/outcome.hpp), for a
    // view that shows more than the dialog's texts; the Win32 view takes neither.
    virtual void ReportProgress(const engine::Progress& /*progress*/) {}
    virtual void ReportOutcome(const engine::Outcome& /*outcome*/) {}
};

}  // namespace tq5::app
