#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "engine/procedures/open_ports.hpp"
#include "engine/seams/detachable_host.hpp"
#include "engine_rig.hpp"

namespace tq5::engine {
namespace {

TEST(OpenSelectedPorts, OpensOutputThenInputOnTheSelections) {
    EngineRig rig;
    rig.host.selectedOutput = 3;
    rig.host.selectedInput = -1;
    const PortGeneration before = rig.session.Generation();
    EXPECT_TRUE(OpenSelectedPorts(rig.env));
    EXPECT_EQ(rig.ports.Calls(), (std::vector<std::string>{"close-out", "open-out 3", "close-in",
                                                           "index-in -1", "open-in"}));
    EXPECT_EQ(rig.host.Events(), (std::vector<std::string>{"get-out:", "get-in:"}));
    EXPECT_GT(rig.session.Generation(), before);
}

TEST(OpenSelectedPorts, RefusesWhileBusy) {
    EngineRig rig;
    rig.context.SetBusy(true);
    EXPECT_FALSE(OpenSelectedPorts(rig.env));
    EXPECT_TRUE(rig.ports.Calls().empty());
    EXPECT_EQ(rig.host.Events(), std::vector<std::string>{"box:Error|In Progress.|error"});
}

TEST(OpenSelectedPorts, OutputFailureStopsBeforeTheInput) {
    EngineRig rig;
    rig.ports.failOutput = true;
    EXPECT_FALSE(OpenSelectedPorts(rig.env));
    EXPECT_EQ(rig.ports.Calls(), (std::vector<std::string>{"close-out", "open-out 0"}));
    EXPECT_EQ(rig.host.Of("box"),
              std::vector<std::string>{"Error|Can't open MIDI Out device.|error"});
    EXPECT_TRUE(rig.host.Of("release").empty());
}

TEST(OpenSelectedPorts, InputFailureLeavesTheOutputOpen) {
    EngineRig rig;
    rig.ports.failInput = true;
    EXPECT_FALSE(OpenSelectedPorts(rig.env));
    EXPECT_EQ(rig.ports.Calls().back(), "open-in");
    EXPECT_EQ(rig.host.Of("box"),
              std::vector<std::string>{"Error|Can't open MIDI In device.|error"});
}

TEST(PortSession, OnlyTheCurrentGenerationClosesThePorts) {
    test::FakePorts ports;
    PortSession session(ports);
    EXPECT_TRUE(session.ReopenOutput(1));
    const PortGeneration first = session.Generation();
    EXPECT_TRUE(session.ReopenOutput(2));
    EXPECT_FALSE(session.CloseIfCurrent(first));
    EXPECT_EQ(ports.Calls().back(), "open-out 2");
    EXPECT_TRUE(session.CloseIfCurrent(session.Generation()));
    ClosePorts(session);
    EXPECT_EQ(ports.Calls().size(), 8u);
}

// --- detachable host -------------------------------------------------------------------------

TEST(DetachableHost, ForwardsUntilDisconnectedThenDoesNothing) {
    test::RecordingHost window;
    window.selectedOutput = 2;
    DetachableHost host(window);
    host.SetStatusText("a");
    EXPECT_EQ(host.GetSelectedOutput(), 2);
    host.Disconnect();
    EXPECT_FALSE(host.IsConnected());
    host.SetStatusText("b");
    host.ShowMessageBox("x", "Error", MessageIcon::Error);
    host.ReleaseControls();
    host.PostVersionCheckDone(true);
    EXPECT_EQ(host.GetSelectedOutput(), -1);
    EXPECT_EQ(host.GetSelectedInput(), -1);
    EXPECT_EQ(window.Events(), (std::vector<std::string>{"status:a", "get-out:"}));
}

// A window whose message box stays up until the test dismisses it.
class BlockingBox : public test::RecordingHost {
public:
    void ShowMessageBox(std::string_view text, std::string_view caption,
                        MessageIcon icon) override {
        shown.set_value();
        dismissed.get_future().wait();
        RecordingHost::ShowMessageBox(text, caption, icon);
    }
    std::promise<void> shown;
    std::promise<void> dismissed;
};

TEST(DetachableHost, DisconnectWaitsForACallInProgress) {
    BlockingBox window;
    DetachableHost host(window);
    std::thread worker([&] {
        host.ShowMessageBox("Transfer error occurred.", "Error", MessageIcon::Error);
        host.ReleaseControls();  // after the disconnect: must not arrive
    });
    window.shown.get_future().wait();
    auto disconnected = std::async(std::launch::async, [&] { host.Disconnect(); });
    EXPECT_EQ(disconnected.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    window.dismissed.set_value();
    disconnected.get();
    worker.join();
    EXPECT_EQ(window.Events(),
              std::vector<std::string>{"box:Error|Transfer error occurred.|error"});
}

TEST(DetachableHost, DisconnectFromInsideACallDoesNotWaitForItself) {
    struct ClosingWindow : test::RecordingHost {
        DetachableHost* host = nullptr;
        void SetStatusText(std::string_view) override { host->Disconnect(); }
    } window;
    DetachableHost host(window);
    window.host = &host;
    host.SetStatusText("closing");  // would deadlock if Disconnect waited for this call
    EXPECT_FALSE(host.IsConnected());
}

}  // namespace
}  // namespace tq5::engine
