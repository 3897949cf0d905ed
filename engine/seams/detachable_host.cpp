#include "engine/seams/detachable_host.hpp"

#include <algorithm>

namespace tq5::engine {

Host* DetachableHost::Enter() {
    std::lock_guard guard(lock_);
    if (target_ == nullptr) return nullptr;
    active_.push_back(std::this_thread::get_id());
    return target_;
}

void DetachableHost::Leave() {
    {
        std::lock_guard guard(lock_);
        const auto it = std::find(active_.begin(), active_.end(), std::this_thread::get_id());
        if (it != active_.end()) active_.erase(it);
    }
    idle_.notify_all();
}

template <typename Call>
void DetachableHost::Forward(Call call) {
    Host* target = Enter();
    if (target == nullptr) return;
    // Left on every way out, so that Disconnect never waits for a call that has ended.
    struct LeaveOnExit {
        DetachableHost* host;
        ~LeaveOnExit() { host->Leave(); }
    } leave{this};
    call(*target);
}

void DetachableHost::Disconnect() {
    std::unique_lock guard(lock_);
    target_ = nullptr;
    const auto self = std::this_thread::get_id();
    // A call on this very thread (a message loop nested inside it) can't finish while we wait.
    idle_.wait(guard, [&] {
        return std::all_of(active_.begin(), active_.end(),
                           [&](std::thread::id id) { return id == self; });
    });
}

bool DetachableHost::IsConnected() const {
    std::lock_guard guard(lock_);
    return target_ != nullptr;
}

void DetachableHost::ShowMessageBox(std::string_view text, std::string_view caption,
                                    MessageIcon icon) {
    Forward([&](Host& h) { h.ShowMessageBox(text, caption, icon); });
}
void DetachableHost::SetStatusText(std::string_view text) {
    Forward([&](Host& h) { h.SetStatusText(text); });
}
void DetachableHost::SetCounterText(std::string_view text) {
    Forward([&](Host& h) { h.SetCounterText(text); });
}
void DetachableHost::SetProgressRange(std::int32_t upper) {
    Forward([&](Host& h) { h.SetProgressRange(upper); });
}
void DetachableHost::SetProgressPos(std::int32_t position) {
    Forward([&](Host& h) { h.SetProgressPos(position); });
}
void DetachableHost::LockControls() {
    Forward([](Host& h) { h.LockControls(); });
}
void DetachableHost::ReleaseControls() {
    Forward([](Host& h) { h.ReleaseControls(); });
}
void DetachableHost::EnableActions(bool on) {
    Forward([&](Host& h) { h.EnableActions(on); });
}
std::int32_t DetachableHost::GetSelectedOutput() {
    std::int32_t index = -1;
    Forward([&](Host& h) { index = h.GetSelectedOutput(); });
    return index;
}
std::int32_t DetachableHost::GetSelectedInput() {
    std::int32_t index = -1;
    Forward([&](Host& h) { index = h.GetSelectedInput(); });
    return index;
}
void DetachableHost::PostVersionCheckDone(bool versionsRead) {
    Forward([&](Host& h) { h.PostVersionCheckDone(versionsRead); });
}
void DetachableHost::ReportProgress(const Progress& progress) {
    Forward([&](Host& h) { h.ReportProgress(progress); });
}
void DetachableHost::ReportOutcome(const Outcome& outcome) {
    Forward([&](Host& h) { h.ReportOutcome(outcome); });
}

}  // namespace tq5::engine
