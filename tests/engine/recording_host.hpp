#pragma once
// A Host that keeps every call in order, as "kind:payload" strings, and plays the window's
// part in the busy flag (LockControls sets it, ReleaseControls clears it).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/seams/host.hpp"
#include "engine/state/update_context.hpp"

namespace tq5::test {

class RecordingHost : public engine::Host {
public:
    explicit RecordingHost(engine::UpdateContext* context = nullptr) : context_(context) {}

    void ShowMessageBox(std::string_view text, std::string_view caption,
                        engine::MessageIcon icon) override {
        const char* iconName = icon == engine::MessageIcon::Error ? "error" : "information";
        Record("box", std::string(caption) + "|" + std::string(text) + "|" + iconName);
    }
    void SetStatusText(std::string_view text) override { Record("status", std::string(text)); }
    void SetCounterText(std::string_view text) override { Record("counter", std::string(text)); }
    void SetProgressRange(std::int32_t upper) override { Record("range", std::to_string(upper)); }
    void SetProgressPos(std::int32_t position) override { Record("pos", std::to_string(position)); }
    void LockControls() override {
        Record("lock", "");
        if (context_ != nullptr) context_->SetBusy(true);
    }
    void ReleaseControls() override {
        Record("release", "");
        if (context_ != nullptr) context_->SetBusy(false);
    }
    void EnableActions(bool on) override { Record("enable", on ? "1" : "0"); }
    std::int32_t GetSelectedOutput() override {
        Record("get-out", "");
        return selectedOutput.load();
    }
    std::int32_t GetSelectedInput() override {
        Record("get-in", "");
        return selectedInput.load();
    }
    // Recorded as the window's posted message carries it: 0 read, -1 not.
    void PostVersionCheckDone(bool versionsRead) override {
        Record("post", versionsRead ? "0" : "-1");
    }

    // Kept apart from the calls above, which the window sees.
    void ReportOutcome(const engine::Outcome& outcome) override {
        std::lock_guard guard(lock_);
        outcomes_.push_back(outcome);
    }
    std::vector<engine::Outcome> Outcomes() const {
        std::lock_guard guard(lock_);
        return outcomes_;
    }

    // A marker of the test's own, e.g. the moment the window starts closing.
    void Mark(std::string_view what) { Record("mark", std::string(what)); }

    std::vector<std::string> Events() const {
        std::lock_guard guard(lock_);
        return events_;
    }
    // Payloads of one kind of call, in order.
    std::vector<std::string> Of(std::string_view kind) const {
        std::vector<std::string> out;
        const std::string prefix = std::string(kind) + ":";
        for (const std::string& e : Events()) {
            if (e.rfind(prefix, 0) == 0) out.push_back(e.substr(prefix.size()));
        }
        return out;
    }
    // Every call after the first "mark:<what>".
    std::vector<std::string> After(std::string_view what) const {
        std::vector<std::string> all = Events();
        const std::string marker = "mark:" + std::string(what);
        std::vector<std::string> out;
        bool seen = false;
        for (const std::string& e : all) {
            if (seen) out.push_back(e);
            if (e == marker) seen = true;
        }
        return out;
    }

    std::atomic<std::int32_t> selectedOutput{0};
    std::atomic<std::int32_t> selectedInput{0};

private:
    void Record(const char* kind, std::string payload) {
        std::lock_guard guard(lock_);
        events_.push_back(std::string(kind) + ":" + payload);
    }

    engine::UpdateContext* context_;
    mutable std::mutex lock_;
    std::vector<std::string> events_;
    std::vector<engine::Outcome> outcomes_;
};

}  // namespace tq5::test
