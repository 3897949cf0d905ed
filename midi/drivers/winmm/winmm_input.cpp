#include "midi/drivers/winmm/winmm_input.hpp"

#include <chrono>
#include <utility>

namespace tq5::midi::winmm {
namespace {

constexpr UINT kHeaderSize = sizeof(MIDIHDR);

}  // namespace

WinMmInputDriver::WinMmInputDriver(const WinMmApi& api) : api_(api) {}

WinMmInputDriver::~WinMmInputDriver() { Close(); }

std::uint32_t WinMmInputDriver::GetDeviceCount() { return api_.inGetNumDevs(); }

std::string WinMmInputDriver::GetDeviceName(std::uint32_t index) {
    MIDIINCAPSA caps{};
    if (api_.inGetDevCaps(index, &caps, sizeof caps) != MMSYSERR_NOERROR) return {};
    caps.szPname[sizeof caps.szPname - 1] = '\0';
    return caps.szPname;
}

bool WinMmInputDriver::AllocateBuffer() {
    header_ = static_cast<MIDIHDR*>(api_.heapAllocZeroed(kHeaderSize));
    if (header_ == nullptr) return false;
    header_->lpData = static_cast<LPSTR>(api_.heapAllocZeroed(kInputBlockSize));
    if (header_->lpData == nullptr) {
        FreeBuffer();
        return false;
    }
    header_->dwBufferLength = static_cast<DWORD>(kInputBlockSize);
    return true;
}

void WinMmInputDriver::FreeBuffer() {
    MIDIHDR* header = std::exchange(header_, nullptr);
    if (header == nullptr) return;
    if (header->lpData != nullptr) api_.heapFree(header->lpData);
    api_.heapFree(header);
}

bool WinMmInputDriver::Open(std::int32_t index, SysExBlockHandler handler) {
    Close();
    if (!AllocateBuffer()) return false;
    {
        std::lock_guard guard(callbackLock_);
        assembler_ = SysExAssembler(std::move(handler));
        accepting_ = true;
        bufferWithDriver_ = false;
    }
    // -1 and other out-of-range indexes go to the platform unchanged; it refuses them.
    if (api_.inOpen(&handle_, static_cast<UINT>(index), reinterpret_cast<DWORD_PTR>(&InputCallback),
                    reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        handle_ = nullptr;
        {
            std::lock_guard guard(callbackLock_);
            accepting_ = false;
            assembler_ = SysExAssembler(nullptr);
        }
        FreeBuffer();
        return false;
    }
    open_ = true;
    bool ok = api_.inReset(handle_) == MMSYSERR_NOERROR &&
              api_.inPrepareHeader(handle_, header_, kHeaderSize) == MMSYSERR_NOERROR;
    if (ok) {
        std::lock_guard guard(callbackLock_);
        ok = api_.inAddBuffer(handle_, header_, kHeaderSize) == MMSYSERR_NOERROR;
        bufferWithDriver_ = ok;
    }
    ok = ok && api_.inStart(handle_) == MMSYSERR_NOERROR;
    // A device that opened but can't run is closed again rather than left open: otherwise it
    // stays held until the process ends and the next open of it fails.
    if (!ok) Close();
    return ok;
}

void WinMmInputDriver::Close() {
    if (!open_) return;
    StopAndRelease();
    open_ = false;
}

void WinMmInputDriver::StopAndRelease() {
    {
        std::lock_guard guard(callbackLock_);
        accepting_ = false;
        assembler_ = SysExAssembler(nullptr);
    }
    // Every step is tried even when one before it fails: a device left open would stay held.
    api_.inStop(handle_);
    api_.inReset(handle_);  // the driver returns the pending buffer, marked done
    bool returned = false;
    {
        std::unique_lock guard(callbackLock_);
        returned = bufferReturned_.wait_for(guard, std::chrono::milliseconds(kReturnWaitMs),
                                            [&] { return !bufferWithDriver_; });
    }
    // A driver that never called back but marked the buffer done has let go of it too.
    const DWORD flags = HeaderFlags(*header_);
    returned = returned || ((flags & MHDR_DONE) != 0 && (flags & MHDR_INQUEUE) == 0);
    api_.inUnprepareHeader(handle_, header_, kHeaderSize);
    const bool closed = api_.inClose(handle_) == MMSYSERR_NOERROR;
    handle_ = nullptr;
    // Only a closed device with its buffer back can no longer write into it. Otherwise the
    // buffer is left to the driver for the rest of the process: a small leak in a failure
    // that should not happen, instead of the driver writing into freed memory.
    if (closed && returned) {
        FreeBuffer();
    } else {
        header_ = nullptr;
    }
}

void CALLBACK WinMmInputDriver::InputCallback(HMIDIIN /*handle*/, UINT message, DWORD_PTR instance,
                                              DWORD_PTR param1, DWORD_PTR /*param2*/) {
    auto* self = reinterpret_cast<WinMmInputDriver*>(instance);
    if (message == MIM_DATA) {
        self->OnShortMessage(static_cast<DWORD>(param1));
        return;
    }
    // Open, close and the other notices carry no SysEx.
    if (message != MIM_LONGDATA && message != MIM_LONGERROR) return;
    self->OnBufferReturned(reinterpret_cast<MIDIHDR*>(param1), message == MIM_LONGDATA);
}

void WinMmInputDriver::OnBufferReturned(MIDIHDR* header, bool isData) {
    std::lock_guard guard(callbackLock_);
    bufferWithDriver_ = false;
    if (!accepting_) {
        bufferReturned_.notify_all();
        return;
    }
    const DWORD recorded = header->dwBytesRecorded;
    if (!isData) {
        assembler_.Reset();  // a broken message: what came of it so far is dropped too
    } else if ((HeaderFlags(*header) & MHDR_DONE) != 0 && recorded > 0) {
        assembler_.Feed(reinterpret_cast<const std::uint8_t*>(header->lpData), recorded);
    }
    // Every buffer that comes back while running goes back to the driver, an empty one and
    // one returned with an error notice (a broken SysEx message) included: with only one
    // buffer, keeping it would end SysEx reception until the port is opened again.
    HandBack(header);
}

void WinMmInputDriver::OnShortMessage(DWORD message) {
    // Only its status byte matters: a channel or system message ends a SysEx message that
    // lost its F7; a real-time byte changes nothing.
    const auto status = static_cast<std::uint8_t>(message & 0xFF);
    std::lock_guard guard(callbackLock_);
    if (accepting_) assembler_.Feed(&status, 1);
}

void WinMmInputDriver::HandBack(MIDIHDR* header) {
    api_.inPrepareHeader(handle_, header, kHeaderSize);  // a prepared header stays prepared
    bufferWithDriver_ = api_.inAddBuffer(handle_, header, kHeaderSize) == MMSYSERR_NOERROR;
}

}  // namespace tq5::midi::winmm
