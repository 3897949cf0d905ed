// The main dialog's logic through a fake view and the virtual MIDI driver: port lists and
// preferred names, the buttons around a procedure, a whole update and version check, the
// about box, closing during a procedure, and the order in which the dialog is taken down.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/rk4_updator_dlg.hpp"
#include "engine/string_table.hpp"
#include "fake_dialog_view.hpp"
#include "firmware/embedded_firmware.hpp"
#include "firmware/memory_firmware_store.hpp"
#include "midi/drivers/virtual/virtual_backend.hpp"
#include "midi/timer_platform.hpp"
#include "midi/wait_until.hpp"
#include "sim/port_pair_device.hpp"

namespace tq5::app {
namespace {

using test::FakeDialogView;
using namespace std::chrono_literals;

constexpr const char* kCompleted = "Version update completed.";

// Short waits, so failure paths end quickly; the full update still runs at its own pace.
constexpr engine::Timing kShortTiming{.replyWaitMs = 3000,
                                      .eraseReadWaitMs = 3000,
                                      .blockWaitMs = 1000,
                                      .retryPauseMs = 1,
                                      .enterPauseMs = 1};

// A timer service that never ticks on its own. Killing its event runs the callback once
// more, as a tick still under way when the timer is stopped would: if anything that tick
// uses were already gone, the sanitizers would see it.
class LastTickTimerPlatform final : public midi::TimerPlatform {
public:
    std::uint32_t MinPeriod() override { return 1; }
    void BeginPeriod(std::uint32_t) override {}
    void EndPeriod(std::uint32_t) override {}
    std::uint32_t SetPeriodicEvent(std::uint32_t periodMs, std::uint32_t,
                                   midi::TimerCallback callback, std::uintptr_t user) override {
        period = periodMs;
        callback_ = callback;
        user_ = user;
        return 7;
    }
    void KillEvent(std::uint32_t id) override {
        if (callback_ != nullptr) callback_(id, 0, user_, 0, 0);
        callback_ = nullptr;
        ++kills;
    }
    void WakeEvent(std::uint32_t) override {}

    std::uint32_t period = 0;
    int kills = 0;

private:
    midi::TimerCallback callback_ = nullptr;
    std::uintptr_t user_ = 0;
};

class DialogTest : public testing::Test {
protected:
    void TearDown() override { Close(); }

    void Open(int instanceNumber, engine::Timing timing = kShortTiming,
              midi::TimerPlatform* timerPlatform = nullptr) {
        dialog = std::make_unique<CRk4UpdatorDlg>(
            view, instanceNumber, CoreSettings{backend, *images, timing, timerPlatform});
        ASSERT_TRUE(dialog->OnInitDialog());
    }

    // The window is destroyed (WM_DESTROY), then the dialog object.
    void Close() {
        if (!dialog) return;
        dialog->OnDestroy();
        view.MarkDestroyed();
        dialog.reset();
    }

    // A pair under one name for both ports whose far end never answers.
    midi::VirtualPortPair& SilentPair(const std::string& name) {
        auto& pair = backend.AddPair(name, name);
        pair.SetFarEnd([](const std::uint8_t*, std::size_t) {});
        return pair;
    }

    bool AllLocked() const {
        for (Control c : {Control::InputList, Control::OutputList, Control::Execute,
                          Control::RescanDevice, Control::VersionCheck}) {
            if (view.Enabled(c)) return false;
        }
        return true;
    }

    // Waits for the state a completed update leaves (status line, then the buttons).
    bool WaitForCompletedUpdate() {
        return view.WaitUntil([&] {
            return view.BoxCountLocked() > 0 || (view.StatusLocked() == kCompleted &&
                                                 view.EnabledLocked(Control::RescanDevice) &&
                                                 !view.EnabledLocked(Control::VersionCheck));
        });
    }

    midi::VirtualMidiBackend backend;
    const engine::FirmwareStore* images = &firmware::EmbeddedFirmware();  // what Execute writes
    FakeDialogView view;
    LastTickTimerPlatform timer;  // outlives the dialog that may use it
    std::unique_ptr<CRk4UpdatorDlg> dialog;
};

// --- port lists -----------------------------------------------------------------------------

TEST_F(DialogTest, TheLastPreferredEntryWinsInInstanceOne) {
    SilentPair("USB Audio Device");
    SilentPair("VARN TQ Series");
    Open(1);
    EXPECT_EQ(view.Entries(PortList::Output),
              (std::vector<std::string>{"USB Audio Device", "VARN TQ Series"}));
    EXPECT_EQ(view.Selection(PortList::Output), 1);
    EXPECT_EQ(view.Selection(PortList::Input), 1);
}

TEST_F(DialogTest, InstanceTwoDoesNotTakeTheFirstInstancesPorts) {
    SilentPair("USB Audio Device");
    SilentPair("VARN TQ Series");
    Open(2);
    EXPECT_EQ(view.Selection(PortList::Output), -1);
    EXPECT_EQ(view.Selection(PortList::Input), -1);
}

TEST_F(DialogTest, InstanceTwoPrefersItsNumberedNames) {
    SilentPair("VARN TQ Series");
    SilentPair("USB Audio Device (2)");
    SilentPair("usb audio device (2)");  // case counts
    Open(2);
    EXPECT_EQ(view.Selection(PortList::Output), 1);
}

TEST_F(DialogTest, TheJapaneseDeviceNameIsPreferredToo) {
    SilentPair("Some Synth");
    SilentPair("USB \x83\x49\x81\x5B\x83\x66\x83\x42\x83\x49 \x83\x66\x83\x6F\x83\x43\x83\x58");
    Open(1);
    EXPECT_EQ(view.Selection(PortList::Input), 1);
}

TEST_F(DialogTest, NoPortsLeaveEmptyListsWithoutSelection) {
    Open(1);
    EXPECT_TRUE(view.Entries(PortList::Input).empty());
    EXPECT_EQ(view.Selection(PortList::Output), -1);
    // A start then hands -1 to the output port, which can't open it.
    dialog->OnExecute();
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].text, "Can't open MIDI Out device.");
    EXPECT_FALSE(AllLocked());
}

// --- initialisation and the about box ---------------------------------------------------------

TEST_F(DialogTest, InitialisationSetsTitleMenuProgressAndPollTimer) {
    Open(1, kShortTiming, &timer);
    EXPECT_EQ(view.Title(), "VARN TQ-5 System v1.10 Updater");
    EXPECT_EQ(view.Menu(),
              (std::map<std::uint32_t, std::string>{{16u, "About VARN TQ Series Updater(&A)..."}}));
    EXPECT_EQ(view.ProgressRange(), 100);
    EXPECT_EQ(timer.period, 1u);
}

TEST_F(DialogTest, AboutBoxShowsThePlainTitleInInstanceThree) {
    Open(3);
    EXPECT_EQ(view.Title(), "VARN TQ-5 System v1.10 Updater (3)");
    EXPECT_TRUE(dialog->OnSysCommand(16, 0));
    EXPECT_TRUE(dialog->OnSysCommand(0x1F, 0));  // low four bits don't count
    EXPECT_EQ(view.AboutBoxes(), (std::vector<std::string>{"VARN TQ-5 System v1.10 Updater",
                                                           "VARN TQ-5 System v1.10 Updater"}));
    EXPECT_FALSE(dialog->OnSysCommand(0xF060, 0));  // close: default handling
    EXPECT_FALSE(dialog->OnSysCommand(0x20, 0));
    EXPECT_EQ(view.AboutBoxes().size(), 2u);
}

TEST_F(DialogTest, CommandsMapToTheirHandlers) {
    Open(1);
    EXPECT_EQ(dialog->OnCommand(kIdExit), CommandResult::CloseDialog);
    EXPECT_EQ(dialog->OnCommand(kIdStatusLine), CommandResult::NotHandled);
    EXPECT_TRUE(view.Boxes().empty());
}

// --- around a procedure ---------------------------------------------------------------------

TEST_F(DialogTest, EnterStartsAnUpdateAndKeepsTheDialog) {
    auto& pair = SilentPair("USB Audio Device");
    Open(1);
    EXPECT_EQ(dialog->OnCommand(kIdExecute), CommandResult::Handled);
    EXPECT_TRUE(AllLocked());
    EXPECT_TRUE(dialog->Core().Context().IsBusy());
    ASSERT_TRUE(test::WaitUntil([&] { return !pair.SentMessages().empty(); }));
    EXPECT_EQ(pair.SentMessages()[0],
              (std::vector<std::uint8_t>{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}));
}

TEST_F(DialogTest, WhileRunningOnlyExitResponds) {
    SilentPair("USB Audio Device");
    Open(1, engine::Timing{});  // the product's 30 s: the procedure stays in its first wait
    dialog->OnExecute();
    ASSERT_TRUE(AllLocked());

    dialog->OnCommand(kIdVersionCheck);
    dialog->OnCommand(kIdExecute);
    const auto boxes = view.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto& box : boxes) {
        EXPECT_EQ(box.text, "In Progress.");
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.icon, engine::MessageIcon::Error);
    }
    EXPECT_TRUE(AllLocked());
    EXPECT_TRUE(dialog->Core().Context().IsBusy());
    EXPECT_EQ(dialog->OnCommand(kIdExit), CommandResult::CloseDialog);
}

TEST_F(DialogTest, ExitDuringAnUpdateEndsItQuietly) {
    auto& pair = SilentPair("USB Audio Device");
    Open(1, engine::Timing{});
    dialog->OnExecute();
    ASSERT_TRUE(test::WaitUntil([&] { return !pair.SentMessages().empty(); }));
    const auto statusBefore = view.StatusLog();

    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(dialog->OnCommand(kIdExit), CommandResult::CloseDialog);
    dialog->OnDestroy();
    view.MarkDestroyed();
    EXPECT_FALSE(pair.OutputIsOpen());
    EXPECT_FALSE(pair.InputIsOpen());
    EXPECT_TRUE(dialog->Core().Context().IsClosing());
    dialog->Core().WaitForWorkers();
    // Well inside the 30 s identification wait: the closing status ended it.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);

    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_EQ(view.StatusLog(), statusBefore);
    EXPECT_EQ(view.CallsAfterDestroy(), 0);
    dialog.reset();
}

TEST_F(DialogTest, ClosingDuringAVersionCheckPostsNothing) {
    auto& pair = SilentPair("USB Audio Device");
    Open(1, engine::Timing{});
    dialog->OnVersionCheck();
    ASSERT_TRUE(AllLocked());
    ASSERT_TRUE(test::WaitUntil([&] { return !pair.SentMessages().empty(); }));
    Close();
    EXPECT_EQ(view.PostedCount(), 0u);
    EXPECT_EQ(view.CallsAfterDestroy(), 0);
}

TEST_F(DialogTest, ClosingWhileARequestIsOnTheLineEndsQuietly) {
    auto& pair = SilentPair("USB Audio Device");
    pair.SetHoldSends(true);  // the identity request never finishes leaving
    Open(1, engine::Timing{});
    dialog->OnVersionCheck();
    ASSERT_TRUE(test::WaitUntil([&] { return pair.SendsWaiting() > 0; }));
    const auto started = std::chrono::steady_clock::now();
    Close();
    // Closing the ports ended the send long before its own bound.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(5000));
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_EQ(view.PostedCount(), 0u);
    EXPECT_EQ(view.CallsAfterDestroy(), 0);
}

TEST_F(DialogTest, PortsThatCannotOpenLockNothing) {
    auto& pair = SilentPair("USB Audio Device");
    Open(1);
    pair.SetRefuseOutputOpen(true);
    dialog->OnExecute();
    pair.SetRefuseOutputOpen(false);
    pair.SetRefuseInputOpen(true);
    dialog->OnVersionCheck();

    const auto boxes = view.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Can't open MIDI Out device.");
    EXPECT_EQ(boxes[1].text, "Can't open MIDI In device.");
    EXPECT_TRUE(pair.OutputIsOpen());  // an output opened before the input failed stays open
    EXPECT_TRUE(view.Enabled(Control::Execute));
    EXPECT_TRUE(view.Enabled(Control::RescanDevice));
    EXPECT_FALSE(dialog->Core().Context().IsBusy());
    EXPECT_TRUE(pair.SentMessages().empty());  // no procedure started
}

TEST_F(DialogTest, AFailedIdentificationReleasesTheControls) {
    SilentPair("USB Audio Device");
    Open(1, engine::Timing{.replyWaitMs = 50});
    dialog->OnExecute();
    ASSERT_TRUE(view.WaitUntil([&] { return view.BoxCountLocked() > 0; }));
    ASSERT_TRUE(view.WaitUntil([&] { return view.EnabledLocked(Control::Execute); }));
    EXPECT_EQ(view.Boxes()[0].text, "Time out error(1)");
    EXPECT_FALSE(AllLocked());
    EXPECT_TRUE(view.Enabled(Control::VersionCheck));
}

// --- whole procedures against a virtual TQ-5 -------------------------------------------------

class DeviceDialogTest : public DialogTest {
protected:
    midi::VirtualPortPair& DevicePair(const std::string& name, sim::DeviceOptions options = {}) {
        auto& pair = backend.AddPair(name, name);
        device = &sim::HostDevice(pair, options);
        return pair;
    }

    sim::VirtualDevice* device = nullptr;  // the one DevicePair put there last
};

TEST_F(DeviceDialogTest, ExecuteRunsAWholeUpdate) {
    auto& pair = DevicePair("USB Audio Device");
    Open(1);
    dialog->OnExecute();
    ASSERT_TRUE(WaitForCompletedUpdate());
    dialog->Core().WaitForWorkers();

    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_EQ(view.Status(), kCompleted);
    EXPECT_EQ(view.Counter(), "10/10");
    EXPECT_EQ(view.ProgressPos(), view.ProgressRange());
    EXPECT_FALSE(view.Enabled(Control::Execute));
    EXPECT_FALSE(view.Enabled(Control::VersionCheck));
    EXPECT_TRUE(view.Enabled(Control::RescanDevice));
    EXPECT_TRUE(view.Enabled(Control::InputList));
    EXPECT_TRUE(view.Enabled(Control::OutputList));
    EXPECT_FALSE(dialog->Core().Context().IsBusy());
    EXPECT_TRUE(pair.OutputIsOpen());  // an update leaves the ports open

    // The device's flash now holds the images where the plan writes them.
    const auto& firmware = firmware::EmbeddedFirmware();
    for (const auto& region : engine::kImageRegions) {
        const auto image = firmware.Locate(region.imageId);
        ASSERT_TRUE(image.has_value());
        const auto flash = device->ReadFlash(region.address, image->size);
        EXPECT_TRUE(std::equal(flash.begin(), flash.end(), image->data))
            << "image " << region.imageId;
    }
}

// A TQ-5 behind a 31,250-baud line, reached through a MIDI system that takes each message at
// once: a write block needs 1.5 s on the line, longer than the block wait. Counted from when
// the block has left, the wait is long enough: every block goes once, and none is answered
// twice. (Two whole blocks, the other images cut short; the boot rows are skipped.)
TEST_F(DeviceDialogTest, ABlockLongerOnTheLineThanTheBlockWaitGoesOnce) {
    auto carried = firmware::MemoryFirmwareStore::CopyOf(firmware::EmbeddedFirmware());
    carried.Set(engine::kImageMain, std::vector<std::uint8_t>(16, 0x5A));
    carried.Set(engine::kImageData, std::vector<std::uint8_t>(16, 0xA5));
    images = &carried;
    sim::DeviceOptions options;
    options.timing = {sim::DeviceTiming::DinMidi().lineBytesPerSecond, 0, 0, 1.0};
    auto& pair = DevicePair("USB Audio Device", options);
    pair.SetSendReturnsEarly(true);
    Open(1, {.replyWaitMs = 3000, .eraseReadWaitMs = 3000, .blockWaitMs = 200, .enterPauseMs = 1});
    dialog->OnExecute();
    ASSERT_TRUE(WaitForCompletedUpdate());
    dialog->Core().WaitForWorkers();

    EXPECT_EQ(view.Status(), kCompleted);
    EXPECT_EQ(device->RequestCount(sim::RequestType::WriteBlock), 4u);
    for (const auto& region : engine::kImageRegions) {
        const auto image = carried.Locate(region.imageId);
        const auto flash = device->ReadFlash(region.address, image->size);
        EXPECT_TRUE(std::equal(flash.begin(), flash.end(), image->data)) << region.imageId;
    }
    Close();  // before the images go
}

TEST_F(DeviceDialogTest, RescanAfterSuccessRestoresThePreferredPortsAndTheActions) {
    SilentPair("Other Port");
    DevicePair("USB Audio Device");
    Open(1);
    dialog->OnExecute();
    ASSERT_TRUE(WaitForCompletedUpdate());
    dialog->Core().WaitForWorkers();

    view.Pick(PortList::Output, 0);
    view.Pick(PortList::Input, 0);
    dialog->OnCommand(kIdRescanDevice);
    EXPECT_EQ(view.Entries(PortList::Output),
              (std::vector<std::string>{"Other Port", "USB Audio Device"}));
    EXPECT_EQ(view.Selection(PortList::Output), 1);
    EXPECT_EQ(view.Selection(PortList::Input), 1);
    EXPECT_TRUE(view.Enabled(Control::Execute));
    EXPECT_TRUE(view.Enabled(Control::VersionCheck));
}

TEST_F(DeviceDialogTest, ADeviceInNormalModeIsRefused) {
    sim::DeviceOptions normal;
    normal.mode = sim::DeviceMode::Normal;
    DevicePair("USB Audio Device", normal);
    Open(1);
    dialog->OnExecute();
    ASSERT_TRUE(view.WaitUntil([&] { return view.BoxCountLocked() > 0; }));
    ASSERT_TRUE(view.WaitUntil([&] { return view.EnabledLocked(Control::Execute); }));
    EXPECT_EQ(view.Boxes()[0].text, "Please use the firmware update mode.");
    EXPECT_EQ(view.Status(), "");
}

TEST_F(DeviceDialogTest, VersionCheckShowsTheReportAndReleasesTheControls) {
    auto& pair = DevicePair("USB Audio Device");
    Open(1);
    dialog->OnCommand(kIdVersionCheck);
    ASSERT_TRUE(view.WaitUntil([&] { return view.PostedCountLocked() > 0; }));
    EXPECT_TRUE(AllLocked());  // until the GUI thread takes the completion
    EXPECT_EQ(view.PumpPosted(*dialog), 1);

    const auto boxes = view.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Version Information");
    EXPECT_EQ(boxes[0].icon, engine::MessageIcon::Information);
    EXPECT_EQ(boxes[0].text.rfind("SYSTEM:\t\t", 0), 0u) << boxes[0].text;
    EXPECT_NE(boxes[0].text.find("\nPRESET:\t\t"), std::string::npos);
    EXPECT_NE(boxes[0].text.find("\nBOOT:\t\t"), std::string::npos);
    EXPECT_TRUE(view.Enabled(Control::Execute));
    EXPECT_FALSE(dialog->Core().Context().IsBusy());
    EXPECT_FALSE(pair.OutputIsOpen());  // the check closes the ports
}

// --- taking the dialog down -------------------------------------------------------------------

TEST_F(DialogTest, TheTimerStopsBeforeTheReplyEventGoes) {
    auto& pair = SilentPair("USB Audio Device");
    Open(1, engine::Timing{}, &timer);
    dialog->OnExecute();
    // A reply that no tick has taken yet: the last tick, run while the timer is stopped,
    // interprets it and signals the reply event.
    const std::uint8_t status[] = {0xF0, 0x52, 0x00, 0x00, 0x00, 0x00, 0xF7};
    pair.SendToInput(status, sizeof status);
    ASSERT_TRUE(test::WaitUntil([&] { return dialog->Core().Input().QueuedCount() > 0; }));
    Close();
    EXPECT_EQ(timer.kills, 1);
}

}  // namespace
}  // namespace tq5::app
