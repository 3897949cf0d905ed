// The driver contract on JACK (RtMidi input, our own JACK output) through a private jackd
// started here. The far end is a client of this process with two RtMidi ports of its own.
// Skips only when jackd is not installed.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "midi/drivers/rtmidi/rtmidi_backend.hpp"
#include "midi/drivers/rtmidi/watched_midi.hpp"
#include "support/driver_contract.hpp"
#include "support/hold_meter.hpp"
#include "support/jack_server.hpp"

namespace tq5::test {
namespace {

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/tq5-jack-contract-" +
           std::to_string(::getpid()) + "-" + name;
}

// One server for the whole program, ended by its pid after the last test.
class PrivateJackd : public ::testing::Environment {
public:
    static JackServer* server;
    static std::string error;

    void SetUp() override {
        if (JackServer::Jackd().empty()) return;
        server = new JackServer(TQ5_JACK_SERVER_NAME, TempPath("jackd.log"),
                                {"--sync", "--timeout", "5000"}, 1024);
        server->Start(error);
    }
    void TearDown() override {
        delete server;
        server = nullptr;
        if (!::testing::UnitTest::GetInstance()->Failed()) {
            std::remove(TempPath("jackd.log").c_str());
        }
    }
};
JackServer* PrivateJackd::server = nullptr;
std::string PrivateJackd::error;
[[maybe_unused]] ::testing::Environment* const kJackd =
    ::testing::AddGlobalTestEnvironment(new PrivateJackd);

class JackLink {
public:
    JackLink() : client_("far" + std::to_string(::getpid())) {
        farOut_ = midi::WatchedMidi<RtMidiOut>::Create(RtMidi::UNIX_JACK, client_);
        farIn_ = midi::WatchedMidi<RtMidiIn>::Create(RtMidi::UNIX_JACK, client_);
        EXPECT_TRUE(farOut_ &&
                    farOut_->Run([](RtMidiOut& midi) { midi.openVirtualPort("far out"); }));
        EXPECT_TRUE(farIn_ && farIn_->Run([this](RtMidiIn& midi) {
            midi.ignoreTypes(false, true, true);  // SysEx wanted; clock and sensing not
            midi.setCallback(&JackLink::OnMessage, this);
            midi.openVirtualPort("far in");
        }));
    }

    static std::string SkipReason() {
        if (JackServer::Jackd().empty()) return "jackd is not installed";
        EXPECT_TRUE(PrivateJackd::error.empty()) << PrivateJackd::error;
        return {};
    }
    midi::MidiBackend& Backend() { return backend_; }
    std::int32_t OutputIndex() { return Find(*backend_.CreateOutput(), "far in"); }
    std::int32_t InputIndex() { return Find(*backend_.CreateInput(), "far out"); }

    std::vector<Bytes> FarEndReceived() {
        std::lock_guard guard(lock_);
        return received_;
    }
    void FarEndSend(const Bytes& message) {
        EXPECT_TRUE(farOut_->Run(
            [&](RtMidiOut& midi) { midi.sendMessage(message.data(), message.size()); }));
    }
    // A server that stops answering without dying. A cycle it had already started still
    // runs in our client, late on a loaded machine; 200 ms leaves it time to end.
    void HoldSends() {
        PrivateJackd::server->Freeze();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        hold_.Start();
    }
    void ReleaseSends() {
        PrivateJackd::server->Thaw();
        hold_.Stop();
    }
    // What the send cost while the server did not answer: a figure.
    void CheckHeldSendLeftNothing(std::size_t) { hold_.PrintFigure(); }

private:
    // The index of the device whose name holds this far end's client and `port`, or -1.
    template <typename Driver>
    std::int32_t Find(Driver& driver, const std::string& port) {
        const std::uint32_t count = driver.GetDeviceCount();
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::string name = driver.GetDeviceName(i);
            if (name.find(client_) != std::string::npos && name.find(port) != std::string::npos) {
                return static_cast<std::int32_t>(i);
            }
        }
        ADD_FAILURE() << "no JACK port " << client_ << ":" << port;
        return -1;
    }

    static void OnMessage(double, std::vector<unsigned char>* message, void* user) {
        auto* self = static_cast<JackLink*>(user);
        std::lock_guard guard(self->lock_);
        self->received_.emplace_back(message->begin(), message->end());
    }

    midi::RtMidiBackend backend_{midi::RtMidiSystem::Jack, "tq5-contract"};
    const std::string client_;
    std::mutex lock_;  // before the far end's ports: its callback uses them until they close
    std::vector<Bytes> received_;
    std::unique_ptr<midi::WatchedMidi<RtMidiOut>> farOut_;
    std::unique_ptr<midi::WatchedMidi<RtMidiIn>> farIn_;
    HoldMeter hold_;
};

TQ5_DRIVER_CONTRACT(Jack, JackLink);

}  // namespace
}  // namespace tq5::test
