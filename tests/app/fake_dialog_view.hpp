#pragma once
// A DialogControls that keeps the state a user would see: list entries and selections,
// enabled controls, status line, counter, progress bar, title, every message box and about
// box, and the posted completions. Worker threads may call it; the test thread plays the
// GUI thread (it delivers the posted completions with PumpPosted). Once the window is marked
// destroyed, any further call is counted as a fault.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/dialog_controls.hpp"
#include "app/rk4_updator_dlg.hpp"

namespace tq5::test {

class FakeDialogView final : public app::DialogControls {
public:
    struct Box {
        std::string text;
        std::string caption;
        engine::MessageIcon icon;
    };

    // --- DialogControls ------------------------------------------------------------------
    void ResetList(app::PortList list) override {
        Change([&] {
            lists_[list].clear();
            selection_[list] = -1;
        });
    }
    void AddListEntry(app::PortList list, std::string_view text) override {
        Change([&] { lists_[list].emplace_back(text); });
    }
    void SetListSelection(app::PortList list, std::int32_t index) override {
        Change([&] { selection_[list] = index; });
    }
    std::int32_t GetListSelection(app::PortList list) override {
        std::int32_t index = -1;
        Change([&] { index = selection_[list]; });
        return index;
    }
    void EnableControl(app::Control control, bool enabled) override {
        Change([&] { enabled_[control] = enabled; });
    }
    void SetStatusText(std::string_view text) override {
        Change([&] {
            status_ = text;
            statusLog_.emplace_back(text);
        });
    }
    void SetCounterText(std::string_view text) override {
        Change([&] { counter_ = text; });
    }
    void SetProgressRange(std::int32_t upper) override {
        Change([&] { range_ = upper; });
    }
    void SetProgressPos(std::int32_t position) override {
        Change([&] { pos_ = position; });
    }
    void SetTitle(std::string_view title) override {
        Change([&] { title_ = title; });
    }
    void ShowMessageBox(std::string_view text, std::string_view caption,
                        engine::MessageIcon icon) override {
        Change([&] { boxes_.push_back(Box{std::string(text), std::string(caption), icon}); });
    }
    void AddSystemMenuEntry(std::uint32_t commandId, std::string_view text) override {
        Change([&] { menu_[commandId] = text; });
    }
    void ShowAboutBox(std::string_view titleText) override {
        Change([&] { aboutBoxes_.emplace_back(titleText); });
    }
    void PostVersionCheckDone(std::int32_t result) override {
        Change([&] { posted_.push_back(result); });
    }

    // --- the user and the GUI thread -------------------------------------------------------
    // The user picks an entry of a list.
    void Pick(app::PortList list, std::int32_t index) { SetListSelection(list, index); }

    // Delivers the posted completions to the dialog, as the GUI thread's message loop does.
    int PumpPosted(app::CRk4UpdatorDlg& dialog) {
        int delivered = 0;
        for (;;) {
            std::int32_t result = 0;
            {
                std::lock_guard guard(lock_);
                if (posted_.empty()) return delivered;
                result = posted_.front();
                posted_.pop_front();
            }
            dialog.OnVersionCheckDone(0, result);
            ++delivered;
        }
    }

    // The window is gone: nothing may reach it any more.
    void MarkDestroyed() {
        std::lock_guard guard(lock_);
        destroyed_ = true;
    }

    // Waits until `done` holds (checked under the view's lock); false after `bound`.
    bool WaitUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds bound = std::chrono::seconds(60)) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, bound, done);
    }

    // --- observations (take the lock; safe while workers run) ----------------------------
    std::vector<std::string> Entries(app::PortList list) const { return Read(lists_.at(list)); }
    std::int32_t Selection(app::PortList list) const { return Read(selection_.at(list)); }
    bool Enabled(app::Control control) const {
        std::lock_guard guard(lock_);
        const auto it = enabled_.find(control);
        return it == enabled_.end() || it->second;  // controls start enabled
    }
    std::string Status() const { return Read(status_); }
    std::vector<std::string> StatusLog() const { return Read(statusLog_); }
    std::string Counter() const { return Read(counter_); }
    std::int32_t ProgressRange() const { return Read(range_); }
    std::int32_t ProgressPos() const { return Read(pos_); }
    std::string Title() const { return Read(title_); }
    std::vector<Box> Boxes() const { return Read(boxes_); }
    std::map<std::uint32_t, std::string> Menu() const { return Read(menu_); }
    std::vector<std::string> AboutBoxes() const { return Read(aboutBoxes_); }
    std::size_t PostedCount() const { return Read(posted_).size(); }
    int CallsAfterDestroy() const { return Read(callsAfterDestroy_); }

    // Unlocked access for WaitUntil predicates (which run under the lock).
    const std::string& StatusLocked() const { return status_; }
    std::size_t BoxCountLocked() const { return boxes_.size(); }
    std::size_t PostedCountLocked() const { return posted_.size(); }
    bool EnabledLocked(app::Control control) const {
        const auto it = enabled_.find(control);
        return it == enabled_.end() || it->second;
    }

private:
    template <typename F>
    void Change(F&& f) {
        {
            std::lock_guard guard(lock_);
            if (destroyed_) ++callsAfterDestroy_;
            f();
        }
        changed_.notify_all();
    }
    template <typename T>
    T Read(const T& field) const {
        std::lock_guard guard(lock_);
        return field;
    }

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::map<app::PortList, std::vector<std::string>> lists_{{app::PortList::Input, {}},
                                                             {app::PortList::Output, {}}};
    std::map<app::PortList, std::int32_t> selection_{{app::PortList::Input, -1},
                                                     {app::PortList::Output, -1}};
    std::map<app::Control, bool> enabled_;
    std::string status_;
    std::vector<std::string> statusLog_;
    std::string counter_;
    std::int32_t range_ = 0;
    std::int32_t pos_ = 0;
    std::string title_;
    std::vector<Box> boxes_;
    std::map<std::uint32_t, std::string> menu_;
    std::vector<std::string> aboutBoxes_;
    std::deque<std::int32_t> posted_;
    bool destroyed_ = false;
    int callsAfterDestroy_ = 0;
};

}  // namespace tq5::test
