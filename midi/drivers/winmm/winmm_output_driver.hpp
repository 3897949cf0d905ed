#pragma once
// SysEx output over WinMM: prepare the block, midiOutLongMsg, poll its done mark every
// millisecond, unprepare. The device is opened without a callback. Sends are serialised
// here, a send gives up after its time-out, and Close ends a waiting send.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/driver.hpp"
#include "midi/drivers/winmm/winmm_api.hpp"

namespace tq5::midi::winmm {

class WinMmOutputDriver final : public OutputDriver {
public:
    explicit WinMmOutputDriver(const WinMmApi& api = WinMmApi::System());
    ~WinMmOutputDriver() override;
    WinMmOutputDriver(const WinMmOutputDriver&) = delete;
    WinMmOutputDriver& operator=(const WinMmOutputDriver&) = delete;

    std::uint32_t GetDeviceCount() override;
    std::string GetDeviceName(std::uint32_t index) override;
    // -1 is passed on unchanged: on WinMM that is MIDI_MAPPER, the system's MIDI mapper.
    [[nodiscard]] bool Open(std::int32_t index) override;
    void Close() override;
    [[nodiscard]] bool Send(const std::uint8_t* bytes, std::uint32_t length,
                            std::uint32_t timeoutMs) override;
    // The done mark comes once the driver has put the message out: the waits stay as they are.
    bool SendReturnsBeforeLineTime() const override { return false; }

    // After a send gave up, how long the driver gets to return the block after the reset.
    static constexpr DWORD kReclaimWaitMs = 1000;

private:
    // The header and a copy of the message. The driver reads the copy, so a send that gives
    // up can return while the driver still holds it; the caller's bytes are never at risk.
    struct Block {
        MIDIHDR header{};
        std::unique_ptr<std::uint8_t[]> bytes;
    };

    bool WaitDone(const Block& block, DWORD timeoutMs, bool stopOnClose) const;
    void CloseDevice();  // sendLock_ held

    const WinMmApi& api_;
    std::mutex sendLock_;  // the device handle and one message on the line at a time
    std::atomic<bool> closeRequested_{false};
    HMIDIOUT handle_ = nullptr;
    // Blocks that the driver did not give back even after a reset; released once the device
    // has been closed successfully, since only then has the driver let go of them.
    std::vector<std::unique_ptr<Block>> abandoned_;
};

}  // namespace tq5::midi::winmm
