// The driver contract on a USB MIDI device, through the ALSA backend as tq5-updater uses it:
// the device's sequencer port leads to its rawmidi device, written and read directly. The far
// end is a USB MIDI device made here through gadgetfs, whose endpoint stops being read while
// the line is held, so the computer's USB MIDI driver really holds the send back.
//
// Needs root, the guest kernel's dummy_hcd with its controller free and gadgetfs mounted at
// /dev/gadget: tests/guest/usb_midi_test.sh runs it so (CTest label "guest"); it skips
// elsewhere.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "midi/drivers/alsa/alsa_backend.hpp"
#include "midi/drivers/usbgadget/usb_midi_gadget.hpp"
#include "support/driver_contract.hpp"
#include "support/hold_meter.hpp"

namespace tq5::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kGadgetfs = "/dev/gadget";
constexpr const char* kProduct = "VARN TQ Series";

class UsbLink {
public:
    UsbLink() {
        midi::UsbMidiGadget::Settings settings;
        settings.gadgetfs = kGadgetfs;
        settings.product = kProduct;
        std::string error;
        EXPECT_TRUE(gadget_.Open(
            settings,
            [this](const std::uint8_t* bytes, std::size_t length) {
                std::lock_guard guard(lock_);
                received_.emplace_back(bytes, bytes + length);
            },
            error))
            << error;
        // The computer finds the device and its driver makes the card and its port.
        EXPECT_TRUE(WaitUntil([&] { return Find(*backend_.CreateOutput()) >= 0; }, 20s))
            << "the USB MIDI device did not come up";
    }

    static std::string SkipReason() {
        if (::geteuid() != 0 || !std::filesystem::exists(kGadgetfs)) {
            return "needs root and gadgetfs at /dev/gadget (the guest of tests/guest)";
        }
        return {};
    }
    midi::MidiBackend& Backend() { return backend_; }
    std::int32_t OutputIndex() { return Find(*backend_.CreateOutput()); }
    std::int32_t InputIndex() { return Find(*backend_.CreateInput()); }

    std::vector<Bytes> FarEndReceived() {
        std::lock_guard guard(lock_);
        return received_;
    }
    // Nobody reads a closed input: the host takes no message then, and the device gives it up.
    void FarEndSend(const Bytes& message) {
        static_cast<void>(gadget_.Send(message.data(), message.size(), 1s));
    }
    void HoldSends() {
        gadget_.HoldReading(true);
        hold_.Start();
    }
    void ReleaseSends() {
        hold_.Stop();
        gadget_.HoldReading(false);
    }
    // Of the message the held send it gave up nothing arrived as if whole.
    void CheckHeldSendLeftNothing(std::size_t sent) {
        std::this_thread::sleep_for(200ms);  // what was on its way has come by now
        EXPECT_EQ(FarEndReceived().size(), sent);
        hold_.PrintFigure();
    }

private:
    template <typename Driver>
    static std::int32_t Find(Driver& driver) {
        const std::uint32_t count = driver.GetDeviceCount();
        for (std::uint32_t i = 0; i < count; ++i) {
            if (driver.GetDeviceName(i).rfind(std::string(kProduct) + ":", 0) == 0) {
                return static_cast<std::int32_t>(i);
            }
        }
        return -1;
    }

    midi::AlsaBackend backend_{"tq5-contract"};
    std::mutex lock_;  // before the gadget: its reader uses it until the gadget closes
    std::vector<Bytes> received_;
    midi::UsbMidiGadget gadget_;
    HoldMeter hold_;
};

TQ5_DRIVER_CONTRACT(UsbMidi, UsbLink);

}  // namespace
}  // namespace tq5::test
