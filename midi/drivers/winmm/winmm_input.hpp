#pragma once
// SysEx input over WinMM: one buffer header and one 8192-byte buffer from the process heap,
// handed to the driver and handed back by the input callback after each return. The
// callback runs on a thread of the platform's MIDI service.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "midi/driver.hpp"
#include "midi/drivers/winmm/winmm_api.hpp"
#include "midi/sysex_assembler.hpp"

namespace tq5::midi::winmm {

class WinMmInputDriver final : public InputDriver {
public:
    explicit WinMmInputDriver(const WinMmApi& api = WinMmApi::System());
    ~WinMmInputDriver() override;
    WinMmInputDriver(const WinMmInputDriver&) = delete;
    WinMmInputDriver& operator=(const WinMmInputDriver&) = delete;

    std::uint32_t GetDeviceCount() override;
    std::string GetDeviceName(std::uint32_t index) override;
    [[nodiscard]] bool Open(std::int32_t index, SysExBlockHandler handler) override;
    void Close() override;

    // How long Close waits for the driver to return the buffer after the reset.
    static constexpr DWORD kReturnWaitMs = 1000;

private:
    static void CALLBACK InputCallback(HMIDIIN handle, UINT message, DWORD_PTR instance,
                                       DWORD_PTR param1, DWORD_PTR param2);
    void OnBufferReturned(MIDIHDR* header, bool isData);
    void OnShortMessage(DWORD message);
    void HandBack(MIDIHDR* header);  // callbackLock_ held
    bool AllocateBuffer();
    void FreeBuffer();
    void StopAndRelease();

    const WinMmApi& api_;
    HMIDIIN handle_ = nullptr;
    MIDIHDR* header_ = nullptr;  // with its data buffer; both from the process heap
    bool open_ = false;

    // The callback delivers and hands back only while accepting; Close stops accepting under
    // this lock, so once it has, no block is delivered and no buffer is handed back.
    std::mutex callbackLock_;
    std::condition_variable bufferReturned_;
    SysExAssembler assembler_{nullptr};  // the port's handler while open
    bool accepting_ = false;
    bool bufferWithDriver_ = false;
};

}  // namespace tq5::midi::winmm
