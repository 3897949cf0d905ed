#include "web/src/web_dialog_view.hpp"

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "app/read_back_note.hpp"
#include "app/rk4_updator_dlg.hpp"
#include "engine/text_format.hpp"
#include "web/src/web_report.hpp"

// The page's side (dialog_view_library.js); each call runs on the main thread and returns
// when it is done. Texts are the dialog's 8-bit strings (Shift-JIS), passed with their length.
extern "C" {
void tq5_view_reset_list(int listId);
void tq5_view_add_list_entry(int listId, const char* text, int length);
void tq5_view_set_list_selection(int listId, int index);
int tq5_view_get_list_selection(int listId);
void tq5_view_enable(int controlId, int enabled);
// Queued without waiting; the text is a copy that the library frees.
void tq5_view_set_text_later(int controlId, char* text, int length);
void tq5_view_set_progress_range_later(int upper);
void tq5_view_set_progress_pos_later(int position);
void tq5_view_show_box(std::uint32_t token, const char* text, int textLength, const char* caption,
                       int captionLength, int information);
void tq5_view_show_about(std::uint32_t token, const char* text, int length);
void tq5_view_add_system_menu_entry(std::uint32_t commandId, const char* text, int length);
void tq5_view_set_changing_flash(int on);
// The report "Save report" downloads (UTF-8); empty takes the button away.
void tq5_view_offer_report(const char* text, int length);
void tq5_view_set_note(const char* text, int length);
void tq5_view_first_block_unanswered();
}

namespace tq5::web {
namespace {

// The page's ids for its controls: those of dialog template 103; 0 is the window's title.
constexpr int kTitleId = 0;

int ListId(app::PortList list) {
    return static_cast<int>(list == app::PortList::Input ? app::kIdMidiInList
                                                         : app::kIdMidiOutList);
}

int ControlId(app::Control control) {
    switch (control) {
        case app::Control::InputList:
            return static_cast<int>(app::kIdMidiInList);
        case app::Control::OutputList:
            return static_cast<int>(app::kIdMidiOutList);
        case app::Control::Execute:
            return static_cast<int>(app::kIdExecute);
        case app::Control::RescanDevice:
            return static_cast<int>(app::kIdRescanDevice);
        case app::Control::VersionCheck:
            return static_cast<int>(app::kIdVersionCheck);
    }
    return -1;
}

int Length(std::string_view text) { return static_cast<int>(text.size()); }

void SetTextLater(int controlId, std::string_view text) {
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy == nullptr) return;
    std::memcpy(copy, text.data(), text.size());
    tq5_view_set_text_later(controlId, copy, Length(text));
}

// The status line while the written flash is read back and compared, in the manner of the
// write step's "Data transmit  %d / %d ".
constexpr const char* kVerifyingFormat = "Verifying flash  %lld / %lld ";

// The steps of an update that change the device: from asking it into its update mode on,
// until the outcome.
bool ChangesFlash(engine::Phase phase) {
    return phase != engine::Phase::Identify && phase != engine::Phase::Versions;
}

}  // namespace

bool WebDialogView::Closed() {
    std::lock_guard guard(lock_);
    return closed_;
}

void WebDialogView::BoxDismissed(std::uint32_t token) {
    {
        std::lock_guard guard(lock_);
        openBoxes_.erase(token);
    }
    dismissed_.notify_all();
    thread_.Wake();
}

void WebDialogView::Close() {
    {
        std::lock_guard guard(lock_);
        if (closed_) return;
        closed_ = true;
        openBoxes_.clear();
    }
    dismissed_.notify_all();
    thread_.Wake();
    tq5_view_set_changing_flash(0);
}

template <typename Show>
void WebDialogView::RunModal(Show show) {
    std::uint32_t token = 0;
    {
        std::lock_guard guard(lock_);
        if (closed_) return;
        token = nextToken_++;
        openBoxes_.insert(token);
    }
    show(token);
    const auto done = [this, token] { return closed_ || openBoxes_.count(token) == 0; };
    if (thread_.OnThisThread()) {
        thread_.RunUntil([&] {
            std::lock_guard guard(lock_);
            return done();
        });
    } else {
        std::unique_lock guard(lock_);
        dismissed_.wait(guard, done);
    }
}

void WebDialogView::ResetList(app::PortList list) {
    if (!Closed()) tq5_view_reset_list(ListId(list));
}

void WebDialogView::AddListEntry(app::PortList list, std::string_view text) {
    if (!Closed()) tq5_view_add_list_entry(ListId(list), text.data(), Length(text));
}

void WebDialogView::SetListSelection(app::PortList list, std::int32_t index) {
    if (!Closed()) tq5_view_set_list_selection(ListId(list), index);
}

std::int32_t WebDialogView::GetListSelection(app::PortList list) {
    if (Closed()) return -1;
    return tq5_view_get_list_selection(ListId(list));
}

void WebDialogView::EnableControl(app::Control control, bool enabled) {
    if (!Closed()) tq5_view_enable(ControlId(control), enabled ? 1 : 0);
}

void WebDialogView::SetStatusText(std::string_view text) {
    if (!Closed()) SetTextLater(static_cast<int>(app::kIdStatusLine), text);
}

void WebDialogView::SetCounterText(std::string_view text) {
    if (!Closed()) SetTextLater(static_cast<int>(app::kIdCounter), text);
}

void WebDialogView::SetProgressRange(std::int32_t upper) {
    if (!Closed()) tq5_view_set_progress_range_later(upper);
}

void WebDialogView::SetProgressPos(std::int32_t position) {
    if (!Closed()) tq5_view_set_progress_pos_later(position);
}

void WebDialogView::SetTitle(std::string_view title) {
    if (!Closed()) SetTextLater(kTitleId, title);
}

void WebDialogView::ShowMessageBox(std::string_view text, std::string_view caption,
                                   engine::MessageIcon icon) {
    RunModal([&](std::uint32_t token) {
        tq5_view_show_box(token, text.data(), Length(text), caption.data(), Length(caption),
                          icon == engine::MessageIcon::Information ? 1 : 0);
    });
}

void WebDialogView::AddSystemMenuEntry(std::uint32_t commandId, std::string_view text) {
    if (!Closed()) tq5_view_add_system_menu_entry(commandId, text.data(), Length(text));
}

void WebDialogView::ShowAboutBox(std::string_view titleText) {
    RunModal([&](std::uint32_t token) {
        tq5_view_show_about(token, titleText.data(), Length(titleText));
    });
}

void WebDialogView::PostVersionCheckDone(std::int32_t result) {
    // As a posted message: handled on the dialog thread, after what is already queued.
    app::CRk4UpdatorDlg* dialog = dialog_;
    thread_.Post([dialog, result] {
        if (dialog != nullptr) dialog->OnVersionCheckDone(0, result);
    });
}

void WebDialogView::ReportProgress(const engine::Progress& progress) {
    if (Closed()) return;
    bool startsChanging = false;
    bool withdrawReport = false;
    {
        std::lock_guard guard(lock_);
        lastProgress_ = progress;
        if (ChangesFlash(progress.phase) && !changingFlash_) {
            changingFlash_ = true;
            blockAnswered_ = false;
            startsChanging = true;
        }
        if (progress.phase == engine::Phase::Write && progress.done > 0) blockAnswered_ = true;
        // A new procedure: the last one's report no longer applies.
        if (progress.phase == engine::Phase::Identify)
            withdrawReport = std::exchange(reportOffered_, false);
    }
    if (withdrawReport) tq5_view_offer_report("", 0);
    if (startsChanging) {
        tq5_view_set_note("", 0);  // the last update's note no longer applies
        tq5_view_set_changing_flash(1);
    }
    if (progress.phase == engine::Phase::Verify && progress.total > 0) {
        const std::string text =
            engine::FormatText(kVerifyingFormat, static_cast<long long>(progress.done),
                               static_cast<long long>(progress.total));
        SetTextLater(static_cast<int>(app::kIdStatusLine), text);
        tq5_view_set_progress_range_later(static_cast<int>(progress.total));
        tq5_view_set_progress_pos_later(static_cast<int>(progress.done));
    }
}

void WebDialogView::ReportOutcome(const engine::Outcome& outcome) {
    bool stopsChanging = false;
    bool firstBlockUnanswered = false;
    engine::Progress last;
    {
        std::lock_guard guard(lock_);
        stopsChanging = std::exchange(changingFlash_, false);
        last = lastProgress_;
        if (!outcome.completed && dialog_ != nullptr && !closed_) reportOffered_ = true;
        // The update's first write block was never answered while everything before it was:
        // the pattern of a browser whose long messages lose their tails on the way to the
        // device (on Linux, in the kernel's sequencer port of a USB MIDI device).
        firstBlockUnanswered = stopsChanging && !outcome.completed &&
                               outcome.phase == engine::Phase::Write && !blockAnswered_ &&
                               (outcome.cause == engine::Cause::TimedOut ||
                                outcome.cause == engine::Cause::SendFailed);
    }
    if (stopsChanging) tq5_view_set_changing_flash(0);
    // "Version update completed." is all the status line holds; an update whose flash could
    // not be read back says so under the window.
    if (outcome.completed) {
        const std::string note = app::ReadBackNote(outcome.readBack);
        if (!note.empty()) tq5_view_set_note(note.c_str(), Length(note));
        return;
    }
    if (firstBlockUnanswered) tq5_view_first_block_unanswered();
    if (dialog_ == nullptr || Closed()) return;
    const std::string report = PageReport(*dialog_, outcome, last);
    tq5_view_offer_report(report.c_str(), Length(report));
}

}  // namespace tq5::web
