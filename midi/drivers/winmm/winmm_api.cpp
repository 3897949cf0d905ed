#include "midi/drivers/winmm/winmm_api.hpp"

namespace tq5::midi::winmm {
namespace {

void* ProcessHeapAllocZeroed(SIZE_T bytes) {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void ProcessHeapFree(void* memory) { HeapFree(GetProcessHeap(), 0, memory); }

}  // namespace

const WinMmApi& WinMmApi::System() {
    // clang-format off
    static const WinMmApi api{
        midiInGetNumDevs,  midiInGetDevCapsA,  midiInOpen,          midiInReset,
        midiInPrepareHeader, midiInUnprepareHeader, midiInAddBuffer, midiInStart,
        midiInStop,        midiInClose,
        midiOutGetNumDevs, midiOutGetDevCapsA, midiOutOpen,         midiOutClose,
        midiOutPrepareHeader, midiOutUnprepareHeader, midiOutLongMsg, midiOutReset,
        ProcessHeapAllocZeroed, ProcessHeapFree,
    };
    // clang-format on
    return api;
}

}  // namespace tq5::midi::winmm
