#pragma once
// Everything a procedure needs, wired for tests: an UpdateContext whose output goes to a
// scripted device, the device's replies into a receive queue, a dispatcher thread draining
// it every millisecond like the product's poll, a recording host, fake ports and short
// timings.

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/dispatcher.hpp"
#include "engine/midi_ports.hpp"
#include "engine/procedures.hpp"
#include "firmware/embedded_firmware.hpp"
#include "recording_host.hpp"
#include "scripted_device.hpp"

namespace tq5::test {

// Runs DispatchReplies every millisecond on a thread of its own until destroyed.
class DispatcherThread {
public:
    DispatcherThread(engine::UpdateContext& context, engine::ReceivedSource& source)
        : thread_([this, &context, &source] {
              while (!stop_.load()) {
                  engine::DispatchReplies(context, source);
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          }) {}
    ~DispatcherThread() {
        stop_.store(true);
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The dialog's two ports as calls in order; each open can be told to fail.
class FakePorts final : public engine::MidiPorts {
public:
    void CloseOutput() override { Record("close-out"); }
    int OpenOutput(std::int32_t index) override {
        Record("open-out " + std::to_string(index));
        return failOutput.load() ? 0 : 1;
    }
    void CloseInput() override { Record("close-in"); }
    void SetInputDeviceIndex(std::int32_t index) override {
        Record("index-in " + std::to_string(index));
    }
    int OpenInput() override {
        Record("open-in");
        return failInput.load() ? 0 : 1;
    }
    std::vector<std::string> Calls() const {
        std::lock_guard guard(lock_);
        return calls_;
    }

    std::atomic<bool> failOutput{false};
    std::atomic<bool> failInput{false};

private:
    void Record(std::string call) {
        std::lock_guard guard(lock_);
        calls_.push_back(std::move(call));
    }
    mutable std::mutex lock_;
    std::vector<std::string> calls_;
};

// Short enough to run the time-outs, long enough to be unambiguous on a loaded machine.
inline engine::Timing ShortTiming() {
    engine::Timing t;
    t.replyWaitMs = 300;
    t.eraseReadWaitMs = 300;
    t.blockWaitMs = 100;
    t.retryPauseMs = 2;
    t.enterPauseMs = 5;
    return t;
}

struct EngineRig {
    explicit EngineRig(const engine::FirmwareStore& store = engine::EmbeddedFirmware(),
                       engine::Timing timing = ShortTiming())
        : firmware(store), env{context, host, firmware, timing, session, versions} {
        context.SetOutput(&device);
    }

    // What the window's destroy handler does to a running procedure.
    void CloseWindow() {
        host.Mark("closing");
        context.MarkClosing();
    }

    engine::UpdateContext context;
    engine::ReceiveQueue queue;
    RecordingHost host{&context};
    ScriptedDevice device{queue};
    FakePorts ports;
    engine::PortSession session{ports};
    engine::VersionStrings versions;
    const engine::FirmwareStore& firmware;
    engine::Procedures env;
    DispatcherThread dispatcher{context, queue};  // last: stops first
};

}  // namespace tq5::test

namespace tq5::engine {
// The harness's names, for the procedure tests that live in this namespace.
using test::Action;
using test::Bytes;
using test::EngineRig;
using test::Request;
using test::RequestKind;
using test::StatusReply;
}  // namespace tq5::engine
