// The driver contract on the ALSA sequencer, through the ALSA backend as tq5-updater uses it
// for a software client's ports. The far end is a sequencer client of this process with two
// ports of its own. Its line is held as a busy program holds it: it stops reading, and its
// input pool, filled by another client, takes nothing more until it reads again.
//
// Needs a sequencer (/dev/snd/seq): these machines have none, so it skips here and runs in the
// guest kernel (CTest label "guest", through midi_alsa_tests).

#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "midi/drivers/alsa/alsa_backend.hpp"
#include "midi/drivers/alsa/alsa_sequencer.hpp"
#include "support/driver_contract.hpp"
#include "support/hold_meter.hpp"

namespace tq5::test {
namespace {

class AlsaLink {
public:
    AlsaLink()
        : client_("tq5-far" + std::to_string(::getpid())),
          far_(midi::AlsaSequencer::Open(client_)),
          filler_(midi::AlsaSequencer::Open(client_ + "-filler")) {
        EXPECT_TRUE(far_ && filler_) << "no sequencer client";
        if (!far_ || !filler_) return;
        farIn_ = far_->CreateInputPort("far in");
        farOut_ = far_->CreateOutputPort("far out");
        fillerOut_ = filler_->CreateOutputPort("filler");
        EXPECT_TRUE(farIn_ >= 0 && farOut_ >= 0 && fillerOut_ >= 0);
        EXPECT_TRUE(filler_->ConnectTo(fillerOut_, {far_->ClientId(), farIn_}));
        EXPECT_TRUE(StartReading());
    }

    static std::string SkipReason() {
        return midi::AlsaSequencer::IsReachable() ? std::string()
                                                  : "no ALSA sequencer (/dev/snd/seq)";
    }
    midi::MidiBackend& Backend() { return backend_; }
    std::int32_t OutputIndex() { return Find(*backend_.CreateOutput(), "far in"); }
    std::int32_t InputIndex() { return Find(*backend_.CreateInput(), "far out"); }

    std::vector<Bytes> FarEndReceived() {
        std::lock_guard guard(lock_);
        return received_;
    }
    void FarEndSend(const Bytes& message) {
        EXPECT_TRUE(far_->SendSysEx(farOut_, message.data(), message.size(), 1000));
    }
    // The far end stops reading, and another client fills its input pool to the brim. The
    // kernel clears a pool that overflowed when it is next read, so what came before the
    // hold is read first.
    void HoldSends() {
        EXPECT_TRUE(WaitUntil([&] { return !FarEndReceived().empty(); }));
        far_->StopReading();
        int filled = 0;
        while (filler_->SendSysEx(fillerOut_, fillerMessage_.data(), fillerMessage_.size(), 0)) {
            ++filled;
        }
        EXPECT_GT(filled, 0) << "the far end's pool took no filler";
        hold_.Start();
    }
    void ReleaseSends() {
        hold_.Stop();
        EXPECT_TRUE(StartReading());
    }
    // The held send was given up whole: the far end, reading again, gets none of it.
    void CheckHeldSendLeftNothing(std::size_t sent) {
        EXPECT_TRUE(WaitUntil([&] { return FarEndReceived().size() >= sent; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the pool is read by now
        EXPECT_EQ(FarEndReceived().size(), sent);
        hold_.PrintFigure();
    }

private:
    bool StartReading() {
        return far_->StartReading([this](const std::uint8_t* bytes, std::size_t length) {
            const Bytes message(bytes, bytes + length);
            if (message == fillerMessage_) return;  // what held the line is not the test's
            std::lock_guard guard(lock_);
            received_.push_back(message);
        });
    }

    // The index of the device whose name holds the far end's client and `port`, or -1.
    template <typename Driver>
    std::int32_t Find(Driver& driver, const std::string& port) {
        const std::uint32_t count = driver.GetDeviceCount();
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::string name = driver.GetDeviceName(i);
            if (name.rfind(client_ + ":", 0) == 0 && name.find(port) != std::string::npos) {
                return static_cast<std::int32_t>(i);
            }
        }
        ADD_FAILURE() << "no sequencer port " << client_ << ":" << port;
        return -1;
    }

    const Bytes fillerMessage_ = PatternSysEx(4700, 99);
    midi::AlsaBackend backend_{"tq5-contract"};
    const std::string client_;
    std::mutex lock_;  // before the far end: its reader uses it until the client closes
    std::vector<Bytes> received_;
    std::unique_ptr<midi::AlsaSequencer> far_;
    std::unique_ptr<midi::AlsaSequencer> filler_;
    int farIn_ = -1;
    int farOut_ = -1;
    int fillerOut_ = -1;
    HoldMeter hold_;
};

TQ5_DRIVER_CONTRACT(AlsaSequencer, AlsaLink);

}  // namespace
}  // namespace tq5::test
