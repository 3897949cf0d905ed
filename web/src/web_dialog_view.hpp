#pragma once
// The page's side of CRk4UpdatorDlg: DialogControls over the controls of the page
// (dialog_view_library.js, which hands each call to the page's view object on the main
// thread and returns when it is done). Calls come from the dialog thread and from workers.
//
// The texts and the progress bar are handed on without waiting for the page to draw them
// (a write step changes them for every block); every other call returns once it is done.
// Modal boxes (message boxes, the about box) are shown by the page; the caller waits until
// the user dismisses its box: on the dialog thread while running posted tasks (as a Windows
// message box's own loop does), on a worker plainly. Close lets every waiting caller go and
// makes later calls do nothing, so that closing the dialog never waits for a box.
//
// Besides the dialog's texts the page shows the read-back check's progress (which the
// Windows dialog does not run), warns before the page is left while an update is changing
// the device's flash, and after a failed update offers its support report for download; all
// of it comes from the procedures' Progress and Outcome.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string_view>

#include "app/dialog_controls.hpp"
#include "web/src/dialog_thread.hpp"

namespace tq5::app {
class CRk4UpdatorDlg;
}

namespace tq5::web {

class WebDialogView final : public app::DialogControls {
public:
    explicit WebDialogView(DialogThread& thread) : thread_(thread) {}

    // The dialog that completion messages go to; before OnInitDialog.
    void Attach(app::CRk4UpdatorDlg& dialog) { dialog_ = &dialog; }

    // Main thread: the page's box `token` was dismissed.
    void BoxDismissed(std::uint32_t token);
    // The dialog is closing: waiting callers go, later calls do nothing. Idempotent.
    void Close();

    // --- DialogControls ----------------------------------------------------------------
    void ResetList(app::PortList list) override;
    void AddListEntry(app::PortList list, std::string_view text) override;
    void SetListSelection(app::PortList list, std::int32_t index) override;
    std::int32_t GetListSelection(app::PortList list) override;
    void EnableControl(app::Control control, bool enabled) override;
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
    void ReportProgress(const engine::Progress& progress) override;
    void ReportOutcome(const engine::Outcome& outcome) override;

private:
    bool Closed();
    // Shows a box through `show` (given the box's token) and waits until it is dismissed or
    // the view closes.
    template <typename Show>
    void RunModal(Show show);

    DialogThread& thread_;
    app::CRk4UpdatorDlg* dialog_ = nullptr;
    std::mutex lock_;
    std::condition_variable dismissed_;
    std::set<std::uint32_t> openBoxes_;
    std::uint32_t nextToken_ = 1;
    bool closed_ = false;
    bool changingFlash_ = false;     // an update has begun to change the device
    bool blockAnswered_ = false;     // and the device has answered one of its write blocks
    engine::Progress lastProgress_;  // of the procedure in progress
    bool reportOffered_ = false;     // "Save report" stands under the window
};

}  // namespace tq5::web
