#pragma once
// A Host that forwards to the window's host until the window disconnects it. After
// Disconnect returns, no operation reaches the window: each one does nothing (a getter
// answers -1). Disconnect waits for operations already in progress on other threads, so a
// worker that outlives its window never touches it. An operation in progress on the thread
// that disconnects (a nested message loop) is not waited for.

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/seams/host.hpp"

namespace tq5::engine {

class DetachableHost final : public Host {
public:
    explicit DetachableHost(Host& target) : target_(&target) {}

    void Disconnect();
    bool IsConnected() const;

    void ShowMessageBox(std::string_view text, std::string_view caption, MessageIcon icon) override;
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
    void ReportProgress(const Progress& progress) override;
    void ReportOutcome(const Outcome& outcome) override;

private:
    // The target for one call, or nullptr once disconnected; registers the call as active.
    Host* Enter();
    void Leave();
    template <typename Call>
    void Forward(Call call);

    mutable std::mutex lock_;
    std::condition_variable idle_;
    Host* target_;
    std::vector<std::thread::id> active_;  // threads inside a forwarded call
};

}  // namespace tq5::engine
