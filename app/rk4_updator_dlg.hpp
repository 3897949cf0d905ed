#pragma once
// CRk4UpdatorDlg: the main dialog's logic, free of any platform. It owns everything a
// procedure needs (UpdaterCore), fills and preselects the port lists, starts the update and
// the version check, locks and releases the controls, and is the engine's Host: the
// procedures' host operations arrive here (through a host that Close disconnects) and go on
// to the view (DialogControls), which carries worker calls to its GUI thread.
//
// The view calls the handlers on its GUI thread: OnInitDialog once the window exists, the
// command handlers for the buttons and keys, OnVersionCheckDone for the posted completion,
// OnSysCommand for the system menu, and OnDestroy when the window is destroyed.

#include <cstdint>
#include <string_view>

#include "app/dialog_controls.hpp"
#include "app/updater_core.hpp"
#include "engine/seams/host.hpp"
#include "engine/string_table.hpp"

namespace tq5::app {

// Command ids of dialog template 103: control 1 is the dialog's OK command (Enter), control
// 2 its cancel command (Exit, Esc and the close box).
inline constexpr std::uint32_t kIdExecute = 1;
inline constexpr std::uint32_t kIdExit = 2;
inline constexpr std::uint32_t kIdMidiInList = 1000;
inline constexpr std::uint32_t kIdMidiOutList = 1001;
inline constexpr std::uint32_t kIdStatusLine = 1003;
inline constexpr std::uint32_t kIdRescanDevice = 1004;
inline constexpr std::uint32_t kIdCounter = 1006;
inline constexpr std::uint32_t kIdVersionCheck = 1007;

// The about box's title field shows the plain title in every instance.
inline constexpr std::string_view kAboutTitleText = engine::kAppTitle;

// What the view does after a command.
enum class CommandResult {
    Handled,      // a handler ran; the dialog stays
    CloseDialog,  // the cancel command: the view ends the dialog (and then calls OnDestroy)
    NotHandled,   // not ours: the view's default handling applies
};

class CRk4UpdatorDlg final : public engine::Host {
public:
    CRk4UpdatorDlg(DialogControls& view, int instanceNumber, const CoreSettings& settings);
    // Closes as OnDestroy does if the window never got that far, stops the poll timer,
    // waits for workers to end, then releases the update context.
    ~CRk4UpdatorDlg() override;

    // --- handlers (GUI thread) -----------------------------------------------------------
    // System-menu entry, port lists, poll timer, progress range 0..100, title. Returns true.
    bool OnInitDialog();
    // Dispatches WM_COMMAND: 1 (Execute, Enter) -> OnExecute, 1004 -> OnRescanDevice,
    // 1007 -> OnVersionCheck, 2 (Exit, Esc, close box) -> CloseDialog.
    CommandResult OnCommand(std::uint32_t commandId);
    void OnExecute();
    void OnVersionCheck();
    void OnRescanDevice();
    // WM_VERSION_CHECK_DONE: the report when lParam is 0, then ReleaseControls. Returns 0.
    std::intptr_t OnVersionCheckDone(std::uintptr_t wParam, std::intptr_t lParam);
    // True when handled (the about box); false sends the command to the default handling.
    bool OnSysCommand(std::uint32_t commandId, std::intptr_t parameter);
    // WM_DESTROY: the closing flag and a signal, host disconnected, ports closed
    // (UpdaterCore::Close).
    void OnDestroy();

    void FillPortLists();
    [[nodiscard]] bool OpenSelectedPorts();

    // --- host operations (any thread) ----------------------------------------------------
    void ShowMessageBox(std::string_view text, std::string_view caption,
                        engine::MessageIcon icon) override;
    void SetStatusText(std::string_view text) override;
    void SetCounterText(std::string_view text) override;
    void SetProgressRange(std::int32_t upper) override;
    void SetProgressPos(std::int32_t position) override;
    void LockControls() override;
    void ReleaseControls() override;
    void EnableActions(bool on) override;
    std::int32_t GetSelectedOutput() override;
    std::int32_t GetSelectedInput() override;
    void PostVersionCheckDone(bool versionsRead) override;
    void ReportProgress(const engine::Progress& progress) override;
    void ReportOutcome(const engine::Outcome& outcome) override;

    int InstanceNumber() const { return instanceNumber_; }
    UpdaterCore& Core() { return core_; }

private:
    DialogControls& view_;
    const int instanceNumber_;
    UpdaterCore core_;
};

}  // namespace tq5::app
