#pragma once
// The WinMM MIDI calls that the drivers make, and the process heap that the input buffer
// comes from, gathered in one table. The program uses the system's table; the driver tests
// pass a table of their own that plays the platform's part (holding buffers, returning them,
// refusing steps, watching what is freed), which no machine without MIDI devices could do.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <mmsystem.h>

namespace tq5::midi::winmm {

// clang-format off
struct WinMmApi {
    UINT(WINAPI* inGetNumDevs)();
    MMRESULT(WINAPI* inGetDevCaps)(UINT_PTR device, LPMIDIINCAPSA caps, UINT size);
    MMRESULT(WINAPI* inOpen)(LPHMIDIIN handle, UINT device, DWORD_PTR callback,
                             DWORD_PTR instance, DWORD flags);
    MMRESULT(WINAPI* inReset)(HMIDIIN handle);
    MMRESULT(WINAPI* inPrepareHeader)(HMIDIIN handle, LPMIDIHDR header, UINT size);
    MMRESULT(WINAPI* inUnprepareHeader)(HMIDIIN handle, LPMIDIHDR header, UINT size);
    MMRESULT(WINAPI* inAddBuffer)(HMIDIIN handle, LPMIDIHDR header, UINT size);
    MMRESULT(WINAPI* inStart)(HMIDIIN handle);
    MMRESULT(WINAPI* inStop)(HMIDIIN handle);
    MMRESULT(WINAPI* inClose)(HMIDIIN handle);

    UINT(WINAPI* outGetNumDevs)();
    MMRESULT(WINAPI* outGetDevCaps)(UINT_PTR device, LPMIDIOUTCAPSA caps, UINT size);
    MMRESULT(WINAPI* outOpen)(LPHMIDIOUT handle, UINT device, DWORD_PTR callback,
                              DWORD_PTR instance, DWORD flags);
    MMRESULT(WINAPI* outClose)(HMIDIOUT handle);
    MMRESULT(WINAPI* outPrepareHeader)(HMIDIOUT handle, LPMIDIHDR header, UINT size);
    MMRESULT(WINAPI* outUnprepareHeader)(HMIDIOUT handle, LPMIDIHDR header, UINT size);
    MMRESULT(WINAPI* outLongMsg)(HMIDIOUT handle, LPMIDIHDR header, UINT size);
    MMRESULT(WINAPI* outReset)(HMIDIOUT handle);

    // Zero-filled memory from the process heap, and its release.
    void* (*heapAllocZeroed)(SIZE_T bytes);
    void (*heapFree)(void* memory);

    // The real winmm.dll.
    static const WinMmApi& System();
};
// clang-format on

// The header's flags as the driver's thread last wrote them.
inline DWORD HeaderFlags(const MIDIHDR& header) {
    return static_cast<const volatile DWORD&>(header.dwFlags);
}

}  // namespace tq5::midi::winmm
