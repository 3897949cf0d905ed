#pragma once
// Everything the updater's window owns for its procedures, shared by the main dialog and the
// command line: the two MIDI ports, the 1 ms poll timer running the reply dispatcher, the
// update context, the port session, the version texts and the host that the workers see.
//
// Workers are started here and are never waited for while the window lives; Close (the
// window going away) makes every worker end at its next wait without touching the window,
// and destruction waits for them before anything they use is released. Destruction stops
// the poll timer before the update context (and with it the reply event) goes.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/procedures/procedure_env.hpp"
#include "engine/seams/detachable_host.hpp"
#include "engine/seams/firmware_images.hpp"
#include "engine/seams/midi_ports.hpp"
#include "engine/state/port_session.hpp"
#include "engine/state/update_context.hpp"
#include "engine/state/version_strings.hpp"
#include "engine/timing.hpp"
#include "midi/driver.hpp"
#include "midi/dx_mtimer.hpp"
#include "midi/midi_in_port.hpp"
#include "midi/midi_out_port.hpp"

namespace tq5::app {

struct CoreSettings {
    midi::MidiBackend& backend;
    const engine::FirmwareStore& firmware;
    engine::Timing timing{};
    // The timer service; nullptr for the system's own. Tests pass one that observes it.
    midi::TimerPlatform* timerPlatform = nullptr;
    // Read the written flash back and compare it before finishing (the command line's way).
    bool verifyFlash = false;
};

class UpdaterCore {
public:
    // `window` receives the procedures' host operations until Close.
    UpdaterCore(const CoreSettings& settings, engine::Host& window);
    ~UpdaterCore();
    UpdaterCore(const UpdaterCore&) = delete;
    UpdaterCore& operator=(const UpdaterCore&) = delete;

    midi::MidiInPort& Input() { return input_; }
    midi::MidiOutPort& Output() { return output_; }
    engine::UpdateContext& Context() { return *context_; }
    engine::VersionStrings& Versions() { return versions_; }
    // The host the procedures act through (the window, until Close disconnects it).
    engine::Host& ProcedureHost() { return host_; }
    engine::ProcedureEnv Env();

    // Starts the 1 ms poll that runs the reply dispatcher; a reply that arrives also wakes it
    // at once. Runs until destruction.
    void StartPolling();

    // Refuses while busy ("In Progress."), else reopens the output and then the input on the
    // window's selections. True when both are open; false after an error message.
    [[nodiscard]] bool OpenSelectedPorts();
    // After OpenSelectedPorts and LockControls: resets the reply event and starts the worker.
    void StartUpdate();
    void StartVersionCheck();

    // The window is going away: the closing flag and a signal, the host disconnected (waiting for
    // host operations in progress on worker threads), then both ports closed, so that a
    // worker ends at its next wait and never reaches the window again. Idempotent.
    void Close();

    // Waits until every worker started so far has ended. A worker of a procedure that is
    // still waiting for the device keeps waiting: call Close first to end it at once.
    void WaitForWorkers();

private:
    class PortPair final : public engine::MidiPorts {
    public:
        PortPair(midi::MidiInPort& input, midi::MidiOutPort& output)
            : input_(input), output_(output) {}
        void CloseOutput() override { output_.Close(); }
        bool OpenOutput(std::int32_t deviceIndex) override {
            return output_.Open(deviceIndex) == 1;
        }
        void CloseInput() override { input_.Close(); }
        void SetInputDeviceIndex(std::int32_t deviceIndex) override {
            input_.SetDeviceIndex(deviceIndex);
        }
        bool OpenInput() override { return input_.Open() == 1; }

    private:
        midi::MidiInPort& input_;
        midi::MidiOutPort& output_;
    };

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    static void Tick(std::uint32_t timerId, std::uint32_t message, std::uintptr_t user,
                     std::uintptr_t reserved1, std::uintptr_t reserved2);
    void StartWorker(std::function<void()> body);
    void JoinFinishedWorkers();

    const engine::FirmwareStore& firmware_;
    const engine::Timing timing_;
    const bool verifyFlash_;
    // The one heap object of the window's state; released last, after the timer has stopped
    // and every worker has ended.
    std::unique_ptr<engine::UpdateContext> context_;
    midi::MidiInPort input_;
    midi::MidiOutPort output_;
    PortPair portPair_;
    engine::PortSession session_;
    engine::VersionStrings versions_;
    engine::DetachableHost host_;
    midi::CDxMTimer timer_;
    std::atomic<bool> closed_{false};
    std::mutex workersLock_;
    std::vector<Worker> workers_;
};

}  // namespace tq5::app
