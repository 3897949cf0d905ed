#include "app/updater_core.hpp"

#include "engine/procedures/open_ports.hpp"
#include "engine/procedures/update_worker.hpp"
#include "engine/procedures/version_check.hpp"
#include "engine/state/dispatcher.hpp"

namespace tq5::app {

UpdaterCore::UpdaterCore(const CoreSettings& settings, engine::Host& window)
    : firmware_(settings.firmware),
      timing_(settings.timing),
      verifyFlash_(settings.verifyFlash),
      context_(std::make_unique<engine::UpdateContext>()),
      input_(settings.backend.CreateInput()),
      output_(settings.backend.CreateOutput()),
      portPair_(input_, output_),
      session_(portPair_),
      host_(window),
      timer_(settings.timerPlatform != nullptr ? *settings.timerPlatform
                                               : midi::SystemTimerPlatform()) {
    context_->SetOutput(&output_);
}

UpdaterCore::~UpdaterCore() {
    Close();
    input_.SetArrivalHook(nullptr);
    // The dispatcher signals the reply event on the timer's thread: stop it first.
    timer_.Stop();
    WaitForWorkers();
    context_->SetOutput(nullptr);
    context_.reset();
}

engine::ProcedureEnv UpdaterCore::Env() {
    return engine::ProcedureEnv{*context_, host_,     firmware_,    timing_,
                                session_,  versions_, verifyFlash_, nullptr};
}

void UpdaterCore::Tick(std::uint32_t, std::uint32_t, std::uintptr_t user, std::uintptr_t,
                       std::uintptr_t) {
    auto* core = reinterpret_cast<UpdaterCore*>(user);
    engine::DispatchReplies(*core->context_, core->input_);
}

void UpdaterCore::StartPolling() {
    timer_.Start(1, &UpdaterCore::Tick, reinterpret_cast<std::uintptr_t>(this));
    input_.SetArrivalHook([this] { timer_.RequestTick(); });
}

bool UpdaterCore::OpenSelectedPorts() { return engine::OpenSelectedPorts(Env()); }

void UpdaterCore::StartUpdate() {
    context_->Event().Reset();
    context_->Log().Begin();  // the record of what is exchanged is this procedure's
    StartWorker([env = Env()] { engine::UpdateWorker(env); });
}

void UpdaterCore::StartVersionCheck() {
    context_->Event().Reset();
    context_->Log().Begin();
    const engine::PortGeneration generation = session_.Generation();
    StartWorker([env = Env(), generation] { engine::VersionCheckThread(env, generation); });
}

void UpdaterCore::Close() {
    if (closed_.exchange(true)) return;
    // The closing flag and the signal come first, and the host is cut off before the ports close:
    // a send that closing the ports cuts short then counts as the window going away, not as
    // a port failure to report to a window that is no longer there.
    context_->MarkClosing();
    host_.Disconnect();
    session_.Close();
}

void UpdaterCore::StartWorker(std::function<void()> body) {
    JoinFinishedWorkers();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([body = std::move(body), done] {
        body();
        done->store(true);
    });
    std::lock_guard guard(workersLock_);
    workers_.push_back(Worker{std::move(thread), std::move(done)});
}

void UpdaterCore::JoinFinishedWorkers() {
    std::lock_guard guard(workersLock_);
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void UpdaterCore::WaitForWorkers() {
    std::vector<Worker> workers;
    {
        std::lock_guard guard(workersLock_);
        workers.swap(workers_);
    }
    for (auto& worker : workers) worker.thread.join();
}

}  // namespace tq5::app
