#pragma once
// Everything a procedure needs, wired for tests: an UpdateContext whose output goes to a
// scripted device, the device's replies into a receive queue, a dispatcher thread draining
// it every millisecond like the product's poll, a recording host, fake ports and short
// timings.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/procedures/exchange.hpp"
#include "engine/procedures/open_ports.hpp"
#include "engine/procedures/procedure_env.hpp"
#include "engine/procedures/update_worker.hpp"
#include "engine/procedures/version_check.hpp"
#include "engine/seams/midi_ports.hpp"
#include "engine/state/dispatcher.hpp"
#include "firmware/embedded_firmware.hpp"
#include "firmware/memory_firmware_store.hpp"
#include "recording_host.hpp"
#include "scripted_device.hpp"

namespace tq5::test {

// A step's result as the number the step tests compare: 0 when Ok, -1 otherwise.
inline int Code(const engine::Result& result) { return result.IsOk() ? 0 : -1; }

// A step run as the end of its procedure: a failure is reported there, as the procedure
// reports it (error box, outcome, controls released).
inline int Ended(const engine::ProcedureEnv& env, const engine::Result& result) {
    if (result.IsFailed()) engine::ReportFailure(env.host, result.GetFailure());
    return Code(result);
}

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
    bool OpenOutput(std::int32_t index) override {
        Record("open-out " + std::to_string(index));
        return !failOutput.load();
    }
    void CloseInput() override { Record("close-in"); }
    void SetInputDeviceIndex(std::int32_t index) override {
        Record("index-in " + std::to_string(index));
    }
    bool OpenInput() override {
        Record("open-in");
        return !failInput.load();
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

// A copy of the embedded images whose version fields read system 1.10, preset 1.00 and boot
// 1.00, whatever images the build embedded.
inline firmware::MemoryFirmwareStore CarriedImages() {
    firmware::MemoryFirmwareStore store =
        firmware::MemoryFirmwareStore::CopyOf(firmware::EmbeddedFirmware());
    for (const auto& [field, text] :
         {std::pair{engine::kSystemVersion, "1.10"}, std::pair{engine::kPresetVersion, "1.00"},
          std::pair{engine::kBootVersion, "1.00"}}) {
        EXPECT_TRUE(store.Overwrite(field.imageId, field.imageOffset,
                                    reinterpret_cast<const std::uint8_t*>(text), 4));
    }
    return store;
}

// The carried images in the shipped layout (same ids, flash addresses, version fields and
// plan), with the two large ones cut short so that an update takes milliseconds: the main
// image keeps four full blocks and a short one, the data image five and a short one. The boot
// image keeps its size, since its version field is its last four bytes.
inline const engine::FirmwareStore& ShortImages() {
    static const firmware::MemoryFirmwareStore store = [] {
        firmware::MemoryFirmwareStore s = CarriedImages();
        for (const auto& [id, size] : {std::pair{engine::kImageMain, 4u * 4096u + 464u},
                                       std::pair{engine::kImageData, 5u * 4096u + 100u}}) {
            const engine::ImageRef full = *s.Locate(id);
            s.Set(id, std::vector<std::uint8_t>(full.data, full.data + size));
        }
        return s;
    }();
    return store;
}

// Short enough to run the time-outs, long enough to be unambiguous on a loaded machine.
inline engine::Timing ShortTiming() {
    engine::Timing t;
    t.replyWaitMs = 300;
    t.eraseReadWaitMs = 300;
    t.blockWaitMs = 100;
    t.retryPauseMs = 2;
    t.enterPauseMs = 5;
    t.verifyReadWaitMs = 300;
    return t;
}

// For runs whose every answer comes: waits that a loaded machine never outlasts, so that an
// answer held up on its way is never taken for a lost one (the procedures would send again,
// and counts of requests and texts would differ from run to run). They cost nothing, since
// no wait runs out; a test that waits one out passes a short timing instead.
inline engine::Timing PatientTiming() {
    engine::Timing t = ShortTiming();
    t.replyWaitMs = 5000;
    t.eraseReadWaitMs = 5000;
    t.verifyReadWaitMs = 5000;
    t.blockWaitMs = 1000;
    return t;
}

// What every rig holds besides its device: the window's side of the procedures.
struct RigCore {
    RigCore(const engine::FirmwareStore& store, engine::Timing timing)
        : firmware(store), env{context, host, firmware, timing, session, versions} {}

    // What the window's destroy handler does to a running procedure.
    void CloseWindow() {
        host.Mark("closing");
        context.MarkClosing();
    }

    // What Execute does, then the worker on a thread of its own; returns its run time.
    std::chrono::steady_clock::duration RunUpdate() {
        host.LockControls();
        context.Event().Reset();
        const auto start = std::chrono::steady_clock::now();
        std::thread worker([this] { engine::UpdateWorker(env); });
        worker.join();
        return std::chrono::steady_clock::now() - start;
    }

    // What Version Check does, the worker, then the completion handler with the posted
    // result, which it returns (99: nothing was posted).
    std::int32_t RunVersionCheck() {
        if (!engine::OpenSelectedPorts(env)) return 99;
        host.LockControls();
        context.Event().Reset();
        const engine::PortGeneration generation = session.Generation();
        std::thread worker([this, generation] { engine::VersionCheckThread(env, generation); });
        worker.join();
        const std::vector<std::string> posted = host.Of("post");
        if (posted.empty()) return 99;
        const std::int32_t result = std::stoi(posted.back());
        engine::OnVersionCheckDone(host, versions, result == 0);
        return result;
    }

    engine::UpdateContext context;
    engine::ReceiveQueue queue;
    RecordingHost host{&context};
    FakePorts ports;
    engine::PortSession session{ports};
    engine::VersionStrings versions;
    const engine::FirmwareStore& firmware;
    engine::ProcedureEnv env;
};

// The procedures against a scripted device.
struct EngineRig : RigCore {
    explicit EngineRig(const engine::FirmwareStore& store = firmware::EmbeddedFirmware(),
                       engine::Timing timing = ShortTiming())
        : RigCore(store, timing) {
        context.SetOutput(&device);
    }

    ScriptedDevice device{queue};
    DispatcherThread dispatcher{context, queue};  // last: stops first
};

}  // namespace tq5::test

namespace tq5::engine {
// The harness's names, for the procedure tests that live in this namespace.
using test::Action;
using test::Bytes;
using test::Code;
using test::Ended;
using test::EngineRig;
using test::Request;
using test::RequestKind;
using test::StatusReply;
}  // namespace tq5::engine
