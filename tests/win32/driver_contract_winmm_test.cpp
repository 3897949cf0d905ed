// The driver contract on the WinMM drivers against the fake winmm.dll, which plays the far
// end: what the output driver hands it is what the far end received, and it fills the input
// driver's buffer with what the far end sends.

#include "midi/drivers/winmm/winmm_input.hpp"
#include "midi/drivers/winmm/winmm_output.hpp"
#include "support/driver_contract.hpp"
#include "win32/fake_winmm.hpp"

namespace tq5::test {
namespace {

// WinMmBackend's drivers, on the fake's function table instead of winmm.dll's.
class FakeWinMmBackend final : public midi::MidiBackend {
public:
    explicit FakeWinMmBackend(const midi::winmm::WinMmApi& api) : api_(api) {}
    std::unique_ptr<midi::InputDriver> CreateInput() override {
        return std::make_unique<midi::winmm::WinMmInputDriver>(api_);
    }
    std::unique_ptr<midi::OutputDriver> CreateOutput() override {
        return std::make_unique<midi::winmm::WinMmOutputDriver>(api_);
    }

private:
    const midi::winmm::WinMmApi& api_;
};

class WinMmLink {
public:
    WinMmLink() {
        fake_.inputNames = {"USB Audio Device", "VARN TQ Series"};
        fake_.outputNames = {"USB Audio Device", "VARN TQ Series"};
    }
    ~WinMmLink() {
        // The faults the fake watches for: none may have happened.
        EXPECT_EQ(fake_.freedWhileHeld.load(), 0);
        EXPECT_EQ(fake_.closedWithSendInProgress.load(), 0);
        EXPECT_EQ(fake_.overlappingMessages.load(), 0);
        EXPECT_EQ(fake_.callsWhileClosed.load(), 0);
    }

    static std::string SkipReason() { return {}; }
    midi::MidiBackend& Backend() { return backend_; }
    std::int32_t OutputIndex() const { return 1; }
    std::int32_t InputIndex() const { return 1; }
    std::vector<Bytes> FarEndReceived() { return fake_.SentMessages(); }
    void FarEndSend(const Bytes& message) { fake_.DeliverSysEx(message); }
    // The device gives a message back only when the driver resets the line.
    void HoldSends() { fake_.outputCompletion = FakeWinMm::OutputCompletion::OnReset; }
    void ReleaseSends() {
        fake_.outputCompletion = FakeWinMm::OutputCompletion::Immediately;
        fake_.FinishPendingOutput();
    }
    // The held block was taken back from the device and unprepared before it closed.
    void CheckHeldSendLeftNothing(std::size_t sent) {
        EXPECT_EQ(fake_.PendingOutput(), 0u);
        EXPECT_EQ(fake_.outputUnprepareCount.load(), static_cast<int>(sent) + 1);
        EXPECT_EQ(fake_.outputCloseCount.load(), 1);
    }

private:
    FakeWinMm fake_;
    FakeWinMmBackend backend_{fake_.Api()};
};

TQ5_DRIVER_CONTRACT(WinMm, WinMmLink);

}  // namespace
}  // namespace tq5::test
