#include "app/cli/console_host.hpp"

#include "engine/string_table.hpp"

namespace tq5::app::cli {
namespace {

// A terminal line is redrawn at most this often, except on a new row or status.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

ConsoleHost::ConsoleHost(std::FILE* out, std::FILE* err, bool live,
                         const engine::FirmwareStore& firmware, bool verify)
    : out_(out),
      err_(err),
      live_(live),
      tracker_(firmware, std::chrono::steady_clock::now(), verify) {}

template <typename F>
void ConsoleHost::Change(F&& f) {
    {
        std::lock_guard guard(lock_);
        f();
    }
    changed_.notify_all();
}

void ConsoleHost::Select(std::int32_t output, std::int32_t input) {
    Change([&] {
        selectedOutput_ = output;
        selectedInput_ = input;
    });
}

void ConsoleHost::EndLineLocked() {
    if (!lineOpen_) return;
    std::fputc('\n', out_);
    std::fflush(out_);
    lineOpen_ = false;
}

void ConsoleHost::EndLine() {
    std::lock_guard guard(lock_);
    EndLineLocked();
}

void ConsoleHost::Redraw(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    // Back to the line's start, clear it, draw it anew.
    std::fprintf(out_, "\r\x1b[2K%s", tracker_.Line(now).c_str());
    std::fflush(out_);
    lineOpen_ = true;
}

void ConsoleHost::Log(const std::string& line) {
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

void ConsoleHost::ShowMessageBox(std::string_view text, std::string_view caption,
                                 engine::MessageIcon icon) {
    Change([&] {
        EndLineLocked();
        if (icon == engine::MessageIcon::Error) {
            errorShown_ = true;
            std::fprintf(err_, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                         static_cast<int>(text.size()), text.data());
            std::fflush(err_);
        } else {
            std::fprintf(out_, "%.*s\n", static_cast<int>(text.size()), text.data());
            std::fflush(out_);
        }
    });
}

void ConsoleHost::SetStatusText(std::string_view text) {
    Change([&] {
        if (!statusSeen_ && onFirstStatus_) onFirstStatus_();
        statusSeen_ = true;
        tracker_.OnStatus(text);
        if (live_) Redraw(false);
    });
}

// The counter and the progress bar say again what the progress reports say as data.
void ConsoleHost::SetCounterText(std::string_view) {}
void ConsoleHost::SetProgressRange(std::int32_t) {}
void ConsoleHost::SetProgressPos(std::int32_t) {}

void ConsoleHost::ReportProgress(const engine::Progress& progress) {
    Change([&] {
        const ProgressTracker::Change change = tracker_.OnProgress(progress);
        if (json_ != nullptr) json_->Progress(progress, tracker_.Done());
        if (live_) {
            Redraw(change != ProgressTracker::Change::None);
        } else if (change == ProgressTracker::Change::Began) {
            Log(tracker_.Counter() + "  " + tracker_.Beginning());
        } else if (change == ProgressTracker::Change::Finished) {
            Log(tracker_.Line(std::chrono::steady_clock::now()));
        }
    });
}

void ConsoleHost::ReportOutcome(const engine::Outcome& outcome) {
    Change([&] {
        outcome_ = outcome;
        if (context_ != nullptr) traffic_ = context_->Log().Snapshot();
        if (outcome.completed && !live_) {
            Log(tracker_.Counter() + "  " + std::string(engine::LoadText(outcome.messageId)));
        }
    });
}

// No controls: only the busy flag that keeps a second procedure from starting.
void ConsoleHost::LockControls() {
    if (context_ != nullptr) context_->SetBusy(true);
}

void ConsoleHost::ReleaseControls() {
    if (context_ != nullptr) context_->SetBusy(false);
}

void ConsoleHost::EnableActions(bool) {}

std::int32_t ConsoleHost::GetSelectedOutput() {
    std::lock_guard guard(lock_);
    return selectedOutput_;
}

std::int32_t ConsoleHost::GetSelectedInput() {
    std::lock_guard guard(lock_);
    return selectedInput_;
}

void ConsoleHost::PostVersionCheckDone(bool versionsRead) {
    Change([&] {
        posted_ = versionsRead;
        if (context_ != nullptr) traffic_ = context_->Log().Snapshot();
    });
}

std::optional<engine::TrafficRecord> ConsoleHost::Traffic() const {
    std::lock_guard guard(lock_);
    return traffic_;
}

double ConsoleHost::Share() const {
    std::lock_guard guard(lock_);
    return tracker_.Done();
}

engine::Progress ConsoleHost::LastProgress() const {
    std::lock_guard guard(lock_);
    return tracker_.Last();
}

std::optional<engine::Outcome> ConsoleHost::UpdateOutcome() const {
    std::lock_guard guard(lock_);
    return outcome_;
}

bool ConsoleHost::WaitFor(const std::function<bool(const ConsoleHost&)>& ended,
                          const std::function<bool()>& interrupted) {
    std::unique_lock guard(lock_);
    for (;;) {
        if (ended(*this)) return true;
        if (interrupted()) return false;
        changed_.wait_for(guard, std::chrono::milliseconds(20));
    }
}

}  // namespace tq5::app::cli
