#pragma once
// The command line's host: what a procedure shows in the window goes to the console. Error
// boxes print their caption and text to stderr, the version report prints to stdout, and the
// procedure's progress becomes one live line on a terminal (plain log lines otherwise). How
// the procedure ended comes as data, never read back from a text. The main thread waits here
// for the procedure to end.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "app/cli/json_lines.hpp"
#include "app/cli/progress_tracker.hpp"
#include "engine/seams/host.hpp"
#include "engine/state/update_context.hpp"

namespace tq5::app::cli {

class ConsoleHost final : public engine::Host {
public:
    // `live`: redraw one line in place (a terminal) instead of printing log lines.
    // `verify`: the update reads the written flash back (it counts in the share done).
    ConsoleHost(std::FILE* out, std::FILE* err, bool live, const engine::FirmwareStore& firmware,
                bool verify = true);

    // The state whose busy flag Lock/ReleaseControls set; attach before any procedure.
    void Attach(engine::UpdateContext& context) { context_ = &context; }
    void Select(std::int32_t output, std::int32_t input);
    // Called once, on the procedure's thread, when the first status line arrives and before
    // it is shown: an update has then asked the device into its update mode.
    void OnFirstStatus(std::function<void()> hook) { onFirstStatus_ = std::move(hook); }
    // --json: the procedure's progress also goes there as JSON lines. Before any procedure.
    void SetJson(JsonLines* json) { json_ = json; }

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

    // Waits until `ended` holds or `interrupted` returns true (checked every few ms).
    // True when it ended.
    bool WaitFor(const std::function<bool(const ConsoleHost&)>& ended,
                 const std::function<bool()>& interrupted);

    // Observations, for the main thread. Call under WaitFor's predicate or after the end.
    // True once the update's outcome has come: the procedure has ended.
    bool HasOutcome() const { return outcome_.has_value(); }
    bool ErrorShown() const { return errorShown_; }
    // True once the update has touched the device beyond identifying it.
    bool StatusSeen() const { return statusSeen_; }
    // How the update ended; nothing while it runs (or when the window closed it).
    std::optional<engine::Outcome> UpdateOutcome() const;
    engine::Progress LastProgress() const;
    // Whether the version check read the versions; nothing while it runs.
    std::optional<bool> VersionCheckResult() const { return posted_; }
    // What the procedure exchanged, as it stood when its outcome (or the version check's
    // result) came; nothing before.
    std::optional<engine::TrafficRecord> Traffic() const;
    // The share of the whole update done, 0..1.
    double Share() const;

    // Ends the live line so that whatever follows starts on a line of its own.
    void EndLine();

private:
    void Redraw(bool force);
    void Log(const std::string& line);
    void EndLineLocked();
    template <typename F>
    void Change(F&& f);

    std::FILE* const out_;
    std::FILE* const err_;
    const bool live_;
    engine::UpdateContext* context_ = nullptr;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    ProgressTracker tracker_;
    std::chrono::steady_clock::time_point lastDraw_{};
    bool lineOpen_ = false;
    std::int32_t selectedOutput_ = -1;
    std::int32_t selectedInput_ = -1;
    bool errorShown_ = false;
    bool statusSeen_ = false;
    std::optional<bool> posted_;
    std::function<void()> onFirstStatus_;
    std::optional<engine::Outcome> outcome_;
    std::optional<engine::TrafficRecord> traffic_;
    JsonLines* json_ = nullptr;
};

}  // namespace tq5::app::cli
