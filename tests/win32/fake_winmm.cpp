#include "win32/fake_winmm.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tq5::test {
namespace {

FakeWinMm* g_current = nullptr;

const HMIDIIN kInputHandle = reinterpret_cast<HMIDIIN>(0x1001);
const HMIDIOUT kOutputHandle = reinterpret_cast<HMIDIOUT>(0x2001);

// The driver under test polls the flags from another thread, through a volatile read.
void SetFlags(MIDIHDR* header, DWORD set, DWORD clear) {
    volatile DWORD& flags = header->dwFlags;
    flags = (flags | set) & ~clear;
}

void CopyName(const std::string& name, char* destination, std::size_t size) {
    std::memset(destination, 0, size);
    std::memcpy(destination, name.data(), std::min(name.size(), size - 1));
}

// The table's entries: plain functions that forward to the current fake.
template <auto Method>
struct Thunk;
template <typename R, typename... Args, R (FakeWinMm::*Method)(Args...)>
struct Thunk<Method> {
    static R WINAPI Call(Args... args) { return (FakeWinMm::Current().*Method)(args...); }
};

void* Alloc(SIZE_T bytes) { return FakeWinMm::Current().Alloc(bytes); }
void Free(void* memory) { FakeWinMm::Current().Free(memory); }

// clang-format off
const midi::winmm::WinMmApi kFakeApi{
    Thunk<&FakeWinMm::InGetNumDevs>::Call,  Thunk<&FakeWinMm::InGetDevCaps>::Call,
    Thunk<&FakeWinMm::InOpen>::Call,        Thunk<&FakeWinMm::InReset>::Call,
    Thunk<&FakeWinMm::InPrepare>::Call,     Thunk<&FakeWinMm::InUnprepare>::Call,
    Thunk<&FakeWinMm::InAddBuffer>::Call,   Thunk<&FakeWinMm::InStart>::Call,
    Thunk<&FakeWinMm::InStop>::Call,        Thunk<&FakeWinMm::InClose>::Call,
    Thunk<&FakeWinMm::OutGetNumDevs>::Call, Thunk<&FakeWinMm::OutGetDevCaps>::Call,
    Thunk<&FakeWinMm::OutOpen>::Call,       Thunk<&FakeWinMm::OutClose>::Call,
    Thunk<&FakeWinMm::OutPrepare>::Call,    Thunk<&FakeWinMm::OutUnprepare>::Call,
    Thunk<&FakeWinMm::OutLongMsg>::Call,    Thunk<&FakeWinMm::OutReset>::Call,
    Alloc,                                  Free,
};
// clang-format on

}  // namespace

FakeWinMm::FakeWinMm() { g_current = this; }
FakeWinMm::~FakeWinMm() { g_current = nullptr; }

FakeWinMm& FakeWinMm::Current() { return *g_current; }

const midi::winmm::WinMmApi& FakeWinMm::Api() const { return kFakeApi; }

// --- input -------------------------------------------------------------------------------

UINT FakeWinMm::InGetNumDevs() { return static_cast<UINT>(inputNames.size()); }

MMRESULT FakeWinMm::InGetDevCaps(UINT_PTR device, LPMIDIINCAPSA caps, UINT size) {
    if (device >= inputNames.size()) return MMSYSERR_BADDEVICEID;
    if (size < sizeof(MIDIINCAPSA)) return MMSYSERR_INVALPARAM;
    *caps = MIDIINCAPSA{};
    CopyName(inputNames[device], caps->szPname, sizeof caps->szPname);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWinMm::InOpen(LPHMIDIIN handle, UINT device, DWORD_PTR callback, DWORD_PTR instance,
                           DWORD flags) {
    lastInputDevice = device;
    lastInputOpenFlags = flags;
    if (inOpenResult != MMSYSERR_NOERROR) return inOpenResult;
    if (device >= inputNames.size()) return MMSYSERR_BADDEVICEID;
    {
        std::lock_guard guard(inputLock_);
        inputOpen_ = true;
        inputStarted_ = false;
        inputCallback_ = reinterpret_cast<InputCallback>(callback);
        inputInstance_ = instance;
    }
    *handle = kInputHandle;
    ++inputOpenCount;
    inputCallback_(kInputHandle, MIM_OPEN, instance, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWinMm::InReset(HMIDIIN handle) {
    std::deque<MIDIHDR*> returned;
    {
        std::lock_guard guard(inputLock_);
        if (handle != kInputHandle || !inputOpen_) {
            ++callsWhileClosed;
            return MMSYSERR_INVALHANDLE;
        }
        inputStarted_ = false;
        if (inputReset == InputReset::Keep) return MMSYSERR_NOERROR;
        returned.swap(heldInput_);
    }
    for (MIDIHDR* header : returned) {
        header->dwBytesRecorded = 0;
        if (inputReset == InputReset::ReturnPartial) {
            const std::uint8_t partial[] = {0xF0, 0x52, 0x00, 0x01};
            std::memcpy(header->lpData, partial, sizeof partial);
            header->dwBytesRecorded = sizeof partial;
        }
        ReturnInput(header, MIM_LONGDATA);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWinMm::InPrepare(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    if (handle != kInputHandle || size != sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    SetFlags(header, MHDR_PREPARED, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWinMm::InUnprepare(HMIDIIN handle, LPMIDIHDR header, UINT) {
    std::lock_guard guard(inputLock_);
    if (handle != kInputHandle) return MMSYSERR_INVALHANDLE;
    if (std::find(heldInput_.begin(), heldInput_.end(), header) != heldInput_.end()) {
        return MIDIERR_STILLPLAYING;
    }
    SetFlags(header, 0, MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWinMm::InAddBuffer(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    std::lock_guard guard(inputLock_);
    if (handle != kInputHandle || !inputOpen_) {
        ++callsWhileClosed;
        return MMSYSERR_INVALHANDLE;
    }
    if (inAddBufferResult != MMSYSERR_NOERROR) return inAddBufferResult;
    if (size != sizeof(MIDIHDR) || header->lpData == nullptr || header->dwBufferLength == 0) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->dwFlags & MHDR_PREPARED) == 0) return MIDIERR_UNPREPARED;
    header->dwBytesRecorded = 0;
    SetFlags(header, MHDR_INQUEUE, MHDR_DONE);
    heldInput_.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWinMm::InStart(HMIDIIN handle) {
    std::lock_guard guard(inputLock_);
    if (handle != kInputHandle || !inputOpen_) return MMSYSERR_INVALHANDLE;
    if (inStartResult != MMSYSERR_NOERROR) return inStartResult;
    inputStarted_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWinMm::InStop(HMIDIIN handle) {
    std::lock_guard guard(inputLock_);
    if (handle != kInputHandle || !inputOpen_) {
        ++callsWhileClosed;
        return MMSYSERR_INVALHANDLE;
    }
    inputStarted_ = false;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWinMm::InClose(HMIDIIN handle) {
    {
        std::lock_guard guard(inputLock_);
        if (handle != kInputHandle || !inputOpen_) {
            ++callsWhileClosed;
            return MMSYSERR_INVALHANDLE;
        }
        if (!heldInput_.empty()) return MIDIERR_STILLPLAYING;
        inputOpen_ = false;
    }
    ++inputCloseCount;
    inputCallback_(kInputHandle, MIM_CLOSE, inputInstance_, 0, 0);
    return MMSYSERR_NOERROR;
}

void FakeWinMm::ReturnInput(MIDIHDR* header, UINT message) {
    SetFlags(header, MHDR_DONE, MHDR_INQUEUE);
    inputCallback_(kInputHandle, message, inputInstance_, reinterpret_cast<DWORD_PTR>(header), 0);
}

std::size_t FakeWinMm::DeliverSysEx(const std::vector<std::uint8_t>& bytes) {
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        MIDIHDR* header = nullptr;
        {
            std::lock_guard guard(inputLock_);
            if (!inputStarted_ || heldInput_.empty()) break;
            header = heldInput_.front();
            heldInput_.pop_front();
        }
        const std::size_t count =
            std::min<std::size_t>(bytes.size() - offset, header->dwBufferLength);
        std::memcpy(header->lpData, bytes.data() + offset, count);
        header->dwBytesRecorded = static_cast<DWORD>(count);
        offset += count;
        ReturnInput(header, MIM_LONGDATA);
    }
    return offset;
}

void FakeWinMm::DeliverShort(DWORD message) {
    inputCallback_(kInputHandle, MIM_DATA, inputInstance_, message, 0);
}

bool FakeWinMm::DeliverError(const std::vector<std::uint8_t>& bytes) {
    MIDIHDR* header = nullptr;
    {
        std::lock_guard guard(inputLock_);
        if (heldInput_.empty()) return false;
        header = heldInput_.front();
        heldInput_.pop_front();
    }
    std::memcpy(header->lpData, bytes.data(), bytes.size());
    header->dwBytesRecorded = static_cast<DWORD>(bytes.size());
    ReturnInput(header, MIM_LONGERROR);
    return true;
}

void FakeWinMm::ScribbleIntoHeldBuffers() {
    std::lock_guard guard(inputLock_);
    for (MIDIHDR* header : heldInput_) std::memset(header->lpData, 0xAA, 16);
}

std::size_t FakeWinMm::HeldInputBuffers() {
    std::lock_guard guard(inputLock_);
    return heldInput_.size();
}

bool FakeWinMm::HoldsMemory(const void* memory) {
    return std::any_of(heldInput_.begin(), heldInput_.end(), [&](const MIDIHDR* header) {
        return header == memory || header->lpData == memory;
    });
}

void* FakeWinMm::Alloc(SIZE_T bytes) {
    ++liveAllocations;
    return std::calloc(1, bytes);
}

void FakeWinMm::Free(void* memory) {
    {
        std::lock_guard guard(inputLock_);
        if (HoldsMemory(memory)) {
            ++freedWhileHeld;
            return;  // kept, so the test process itself stays sound
        }
    }
    --liveAllocations;
    std::free(memory);
}

// --- output ------------------------------------------------------------------------------

UINT FakeWinMm::OutGetNumDevs() { return static_cast<UINT>(outputNames.size()); }

MMRESULT FakeWinMm::OutGetDevCaps(UINT_PTR device, LPMIDIOUTCAPSA caps, UINT size) {
    if (device >= outputNames.size()) return MMSYSERR_BADDEVICEID;
    if (size < sizeof(MIDIOUTCAPSA)) return MMSYSERR_INVALPARAM;
    *caps = MIDIOUTCAPSA{};
    CopyName(outputNames[device], caps->szPname, sizeof caps->szPname);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWinMm::OutOpen(LPHMIDIOUT handle, UINT device, DWORD_PTR, DWORD_PTR, DWORD) {
    lastOutputDevice = device;
    if (outOpenResult != MMSYSERR_NOERROR) return outOpenResult;
    if (device != MIDI_MAPPER && device >= outputNames.size()) return MMSYSERR_BADDEVICEID;
    std::lock_guard guard(outputLock_);
    outputOpen_ = true;
    *handle = kOutputHandle;
    ++outputOpenCount;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWinMm::OutClose(HMIDIOUT handle) {
    std::lock_guard guard(outputLock_);
    if (handle != kOutputHandle || !outputOpen_) {
        ++callsWhileClosed;
        return MMSYSERR_INVALHANDLE;
    }
    // A prepared block that the driver does not hold belongs to a send still under way.
    for (MIDIHDR* header : preparedOutput_) {
        if (std::find(pendingOutput_.begin(), pendingOutput_.end(), header) ==
            pendingOutput_.end()) {
            ++closedWithSendInProgress;
        }
    }
    if (!pendingOutput_.empty()) return MIDIERR_STILLPLAYING;
    outputOpen_ = false;
    ++outputCloseCount;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWinMm::OutPrepare(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    std::lock_guard guard(outputLock_);
    if (handle != kOutputHandle || !outputOpen_) {
        ++callsWhileClosed;
        return MMSYSERR_INVALHANDLE;
    }
    if (size != sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    SetFlags(header, MHDR_PREPARED, 0);
    preparedOutput_.insert(header);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWinMm::OutUnprepare(HMIDIOUT handle, LPMIDIHDR header, UINT) {
    std::lock_guard guard(outputLock_);
    if (handle != kOutputHandle || !outputOpen_) {
        ++callsWhileClosed;
        return MMSYSERR_INVALHANDLE;
    }
    if (std::find(pendingOutput_.begin(), pendingOutput_.end(), header) != pendingOutput_.end()) {
        return MIDIERR_STILLPLAYING;
    }
    SetFlags(header, 0, MHDR_PREPARED);
    preparedOutput_.erase(header);
    ++outputUnprepareCount;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWinMm::OutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT) {
    std::lock_guard guard(outputLock_);
    if (handle != kOutputHandle || !outputOpen_) {
        ++callsWhileClosed;
        return MMSYSERR_INVALHANDLE;
    }
    if (outLongMsgResult != MMSYSERR_NOERROR) return outLongMsgResult;
    if ((header->dwFlags & MHDR_PREPARED) == 0) return MIDIERR_UNPREPARED;
    if (!pendingOutput_.empty()) ++overlappingMessages;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(header->lpData);
    sent_.emplace_back(bytes, bytes + header->dwBufferLength);
    if (outputCompletion == OutputCompletion::Immediately) {
        SetFlags(header, MHDR_DONE, MHDR_INQUEUE);
    } else {
        SetFlags(header, MHDR_INQUEUE, MHDR_DONE);
        pendingOutput_.push_back(header);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWinMm::OutReset(HMIDIOUT handle) {
    std::lock_guard guard(outputLock_);
    if (handle != kOutputHandle || !outputOpen_) {
        ++callsWhileClosed;
        return MMSYSERR_INVALHANDLE;
    }
    const int resets = ++outputResetCount;
    if (outputCompletion == OutputCompletion::Never) return MMSYSERR_NOERROR;
    if (outputCompletion == OutputCompletion::OnSecondReset && resets == 1) return MMSYSERR_NOERROR;
    for (MIDIHDR* header : pendingOutput_) SetFlags(header, MHDR_DONE, MHDR_INQUEUE);
    pendingOutput_.clear();
    return MMSYSERR_NOERROR;
}

void FakeWinMm::FinishPendingOutput() {
    std::lock_guard guard(outputLock_);
    for (MIDIHDR* header : pendingOutput_) SetFlags(header, MHDR_DONE, MHDR_INQUEUE);
    pendingOutput_.clear();
}

std::size_t FakeWinMm::PendingOutput() {
    std::lock_guard guard(outputLock_);
    return pendingOutput_.size();
}

std::vector<std::vector<std::uint8_t>> FakeWinMm::PendingOutputBytes() {
    std::lock_guard guard(outputLock_);
    std::vector<std::vector<std::uint8_t>> out;
    for (const MIDIHDR* header : pendingOutput_) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(header->lpData);
        out.emplace_back(bytes, bytes + header->dwBufferLength);
    }
    return out;
}

std::vector<std::vector<std::uint8_t>> FakeWinMm::SentMessages() {
    std::lock_guard guard(outputLock_);
    return sent_;
}

}  // namespace tq5::test
