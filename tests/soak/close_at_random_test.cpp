// The main dialog closed at random moments of an update or a version check against a
// virtual TQ-5: wherever the procedure stands (a wait, the pause after entering the update
// mode, a block on its way, the completion just posted), closing ends it at once, quietly,
// and nothing reaches the window once it is destroyed. Under the sanitizer builds this also
// shows that taking the dialog down races with nothing.
//
// TQ5_CLOSE_RUNS sets the number of runs (default 100).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <random>
#include <thread>

#include "app/fake_dialog_view.hpp"
#include "app/rk4_updator_dlg.hpp"
#include "firmware/embedded_firmware.hpp"
#include "midi/drivers/virtual/virtual_backend.hpp"
#include "sim/port_pair_device.hpp"

namespace tq5::app {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int EnvInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

// The product's waits, with a shorter pause after entering the update mode so that the
// random moments spread over the whole update rather than mostly over that pause.
engine::Timing CloseTiming() {
    engine::Timing timing;
    timing.enterPauseMs = 50;
    return timing;
}

struct Window {
    explicit Window(bool oldBootLoader) {
        sim::DeviceOptions device;
        if (oldBootLoader) device.firmware.bootVersion = "0.90";
        sim::HostDevice(backend.AddPair("USB Audio Device", "USB Audio Device"), device);
        dialog = std::make_unique<CRk4UpdatorDlg>(
            view, 1, CoreSettings{backend, firmware::EmbeddedFirmware(), CloseTiming()});
        dialog->OnInitDialog();
    }

    // WM_DESTROY, then the dialog object goes; returns how long that took.
    Clock::duration Close() {
        const auto start = Clock::now();
        dialog->OnDestroy();
        view.MarkDestroyed();
        dialog.reset();
        return Clock::now() - start;
    }

    midi::VirtualMidiBackend backend;
    test::FakeDialogView view;
    std::unique_ptr<CRk4UpdatorDlg> dialog;
};

TEST(CloseAtRandom, ClosingAtAnyMomentEndsTheProcedureQuietlyAndPromptly) {
    const int runs = EnvInt("TQ5_CLOSE_RUNS", 100);
    std::mt19937 draw(7);

    // How long a whole update takes here, so that the moments cover all of it.
    Clock::duration span;
    {
        Window window(true);
        const auto start = Clock::now();
        window.dialog->OnExecute();
        ASSERT_TRUE(window.view.WaitUntil(
            [&] { return window.view.StatusLocked() == "Version update completed."; }));
        span = Clock::now() - start;
        window.Close();
    }

    int completed = 0;
    Clock::duration slowest{};
    for (int run = 0; run < runs; ++run) {
        const bool versionCheck = run % 4 == 3;
        Window window(draw() % 2 == 0);
        versionCheck ? window.dialog->OnVersionCheck() : window.dialog->OnExecute();
        const auto wait = std::chrono::duration_cast<Clock::duration>(
            span * std::uniform_real_distribution<double>(0.0, 1.1)(draw));
        std::this_thread::sleep_for(wait);
        // The GUI thread may already have taken the version check's completion.
        if (versionCheck && draw() % 2 == 0) window.view.PumpPosted(*window.dialog);
        if (window.view.Status() == "Version update completed." || !window.view.Boxes().empty()) {
            ++completed;
        }

        const Clock::duration closing = window.Close();
        slowest = std::max(slowest, closing);
        const std::string where = "run " + std::to_string(run) + ": ";
        EXPECT_EQ(window.view.CallsAfterDestroy(), 0) << where << "the window was touched";
        for (const auto& box : window.view.Boxes()) {
            EXPECT_EQ(box.icon, engine::MessageIcon::Information)
                << where << "an error was shown: " << box.text;
        }
        // Only catches a close that sat out one of the procedure's 30 s or 60 s waits.
        EXPECT_LT(closing, 5s) << where << "closing took too long";
    }
    std::cout << "close at random: " << runs << " runs over "
              << std::chrono::duration<double>(span).count() << " s each, " << completed
              << " had ended before the close; slowest close "
              << std::chrono::duration<double, std::milli>(slowest).count() << " ms\n";
    EXPECT_LT(completed, runs);  // most closes met a procedure under way
}

}  // namespace
}  // namespace tq5::app
