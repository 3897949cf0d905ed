#include "midi/drivers/winmm/winmm_output.hpp"

#include <cstring>

namespace tq5::midi::winmm {
namespace {

constexpr UINT kHeaderSize = sizeof(MIDIHDR);

}  // namespace

WinMmOutputDriver::WinMmOutputDriver(const WinMmApi& api) : api_(api) {}

WinMmOutputDriver::~WinMmOutputDriver() { Close(); }

std::uint32_t WinMmOutputDriver::GetDeviceCount() { return api_.outGetNumDevs(); }

std::string WinMmOutputDriver::GetDeviceName(std::uint32_t index) {
    MIDIOUTCAPSA caps{};
    if (api_.outGetDevCaps(index, &caps, sizeof caps) != MMSYSERR_NOERROR) return {};
    caps.szPname[sizeof caps.szPname - 1] = '\0';
    return caps.szPname;
}

bool WinMmOutputDriver::Open(std::int32_t index) {
    std::lock_guard guard(sendLock_);
    CloseDevice();
    HMIDIOUT handle = nullptr;
    if (api_.outOpen(&handle, static_cast<UINT>(index), 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        return false;
    }
    handle_ = handle;
    return true;
}

void WinMmOutputDriver::Close() {
    // A send waiting for its done mark sees the request within a millisecond and ends, so
    // the lock below is free soon.
    closeRequested_.store(true);
    std::lock_guard guard(sendLock_);
    CloseDevice();
    closeRequested_.store(false);
}

void WinMmOutputDriver::CloseDevice() {
    if (handle_ == nullptr) return;
    if (!abandoned_.empty()) {
        // Blocks a send gave up on: another reset asks the driver for them once more, since
        // the device refuses to close while it holds one and would stay held until we exit.
        api_.outReset(handle_);
        std::erase_if(abandoned_, [this](const std::unique_ptr<Block>& block) {
            if (!WaitDone(*block, kReclaimWaitMs, false)) return false;
            api_.outUnprepareHeader(handle_, &block->header, kHeaderSize);
            return true;
        });
    }
    const bool closed = api_.outClose(handle_) == MMSYSERR_NOERROR;
    handle_ = nullptr;
    if (closed) {
        abandoned_.clear();
    } else {
        // The device may still hold these; they stay allocated for the rest of the process.
        for (auto& block : abandoned_) static_cast<void>(block.release());
        abandoned_.clear();
    }
}

bool WinMmOutputDriver::WaitDone(const Block& block, DWORD timeoutMs, bool stopOnClose) const {
    const ULONGLONG start = GetTickCount64();
    while ((HeaderFlags(block.header) & MHDR_DONE) == 0) {
        if (stopOnClose && closeRequested_.load()) return false;
        if (GetTickCount64() - start >= timeoutMs) return false;
        Sleep(1);
    }
    return true;
}

bool WinMmOutputDriver::Send(const std::uint8_t* bytes, std::uint32_t length,
                             std::uint32_t timeoutMs) {
    std::lock_guard guard(sendLock_);
    if (handle_ == nullptr || closeRequested_.load()) return false;

    auto block = std::make_unique<Block>();
    block->bytes = std::make_unique<std::uint8_t[]>(length);
    std::memcpy(block->bytes.get(), bytes, length);
    block->header.lpData = reinterpret_cast<LPSTR>(block->bytes.get());
    block->header.dwBufferLength = length;
    block->header.dwFlags = 0;

    if (api_.outPrepareHeader(handle_, &block->header, kHeaderSize) != MMSYSERR_NOERROR) {
        return false;
    }
    if (api_.outLongMsg(handle_, &block->header, kHeaderSize) != MMSYSERR_NOERROR) {
        api_.outUnprepareHeader(handle_, &block->header, kHeaderSize);
        return false;
    }
    const bool sent = WaitDone(*block, timeoutMs, true);
    // Given up (time-out or Close): the reset makes the driver drop the message and return
    // the block marked done.
    if (!sent) api_.outReset(handle_);
    if (sent || WaitDone(*block, kReclaimWaitMs, false)) {
        api_.outUnprepareHeader(handle_, &block->header, kHeaderSize);
    } else {
        abandoned_.push_back(std::move(block));
    }
    return sent;
}

}  // namespace tq5::midi::winmm
