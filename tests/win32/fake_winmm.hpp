#pragma once
// A stand-in for winmm.dll that plays the platform's part for the WinMM drivers: it holds
// the input buffers that were added, fills and returns them like a driver does, returns them
// on a reset, refuses steps on request, and watches for the faults that matter: a buffer
// freed while the driver holds it, a device closed with a send still using it, two messages
// on the line at once.

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "midi/drivers/winmm/winmm_api.hpp"

namespace tq5::test {

class FakeWinMm {
public:
    FakeWinMm();  // becomes the one the table's functions act on
    ~FakeWinMm();
    FakeWinMm(const FakeWinMm&) = delete;
    FakeWinMm& operator=(const FakeWinMm&) = delete;

    const midi::winmm::WinMmApi& Api() const;

    // --- set up before use -----------------------------------------------------------
    std::vector<std::string> inputNames;
    std::vector<std::string> outputNames;
    MMRESULT inOpenResult = MMSYSERR_NOERROR;
    MMRESULT inStartResult = MMSYSERR_NOERROR;
    MMRESULT inAddBufferResult = MMSYSERR_NOERROR;
    MMRESULT outOpenResult = MMSYSERR_NOERROR;
    MMRESULT outLongMsgResult = MMSYSERR_NOERROR;

    // What the input reset does with the buffer the driver holds.
    enum class InputReset {
        ReturnEmpty,    // marked done with nothing recorded, as drivers normally do
        ReturnPartial,  // marked done with the bytes of an unfinished message in it
        Keep,           // keeps it (a driver that misbehaves)
    };
    InputReset inputReset = InputReset::ReturnEmpty;

    // When the output driver marks a message done.
    // OnSecondReset: a slow driver that gives the message back only at the next reset.
    enum class OutputCompletion { Immediately, OnReset, OnSecondReset, Never };
    OutputCompletion outputCompletion = OutputCompletion::Immediately;

    // --- acting as the input driver ----------------------------------------------------
    // Fills held buffers with `bytes` in order and returns each one (MIM_LONGDATA) on the
    // calling thread, as the system's MIDI thread would. Bytes for which no buffer is held
    // are dropped; returns how many bytes found a buffer.
    std::size_t DeliverSysEx(const std::vector<std::uint8_t>& bytes);
    void DeliverShort(DWORD message);  // MIM_DATA
    // Returns the held buffer with the error notice (MIM_LONGERROR) and `bytes` recorded.
    bool DeliverError(const std::vector<std::uint8_t>& bytes);
    // Writes into every buffer that it holds, as a driver may do at any time.
    void ScribbleIntoHeldBuffers();

    // --- acting as the output driver ---------------------------------------------------
    // Marks every message on the line done.
    void FinishPendingOutput();

    // --- what happened --------------------------------------------------------------------
    std::size_t HeldInputBuffers();
    std::size_t PendingOutput();
    // The bytes that the messages still on the line point to, read now.
    std::vector<std::vector<std::uint8_t>> PendingOutputBytes();
    std::vector<std::vector<std::uint8_t>> SentMessages();
    UINT lastInputDevice = 0;
    UINT lastOutputDevice = 0;
    DWORD lastInputOpenFlags = 0;
    std::atomic<int> inputOpenCount{0};
    std::atomic<int> inputCloseCount{0};
    std::atomic<int> outputOpenCount{0};
    std::atomic<int> outputCloseCount{0};
    std::atomic<int> outputResetCount{0};
    std::atomic<int> outputUnprepareCount{0};
    std::atomic<int> liveAllocations{0};
    // Faults; a correct driver leaves them all at 0.
    std::atomic<int> freedWhileHeld{0};
    std::atomic<int> closedWithSendInProgress{0};
    std::atomic<int> overlappingMessages{0};
    std::atomic<int> callsWhileClosed{0};

    // --- the table's functions, on the current fake ---------------------------------------
    static FakeWinMm& Current();

    UINT InGetNumDevs();
    MMRESULT InGetDevCaps(UINT_PTR device, LPMIDIINCAPSA caps, UINT size);
    MMRESULT InOpen(LPHMIDIIN handle, UINT device, DWORD_PTR callback, DWORD_PTR instance,
                    DWORD flags);
    MMRESULT InReset(HMIDIIN handle);
    MMRESULT InPrepare(HMIDIIN handle, LPMIDIHDR header, UINT size);
    MMRESULT InUnprepare(HMIDIIN handle, LPMIDIHDR header, UINT size);
    MMRESULT InAddBuffer(HMIDIIN handle, LPMIDIHDR header, UINT size);
    MMRESULT InStart(HMIDIIN handle);
    MMRESULT InStop(HMIDIIN handle);
    MMRESULT InClose(HMIDIIN handle);
    UINT OutGetNumDevs();
    MMRESULT OutGetDevCaps(UINT_PTR device, LPMIDIOUTCAPSA caps, UINT size);
    MMRESULT OutOpen(LPHMIDIOUT handle, UINT device, DWORD_PTR callback, DWORD_PTR instance,
                     DWORD flags);
    MMRESULT OutClose(HMIDIOUT handle);
    MMRESULT OutPrepare(HMIDIOUT handle, LPMIDIHDR header, UINT size);
    MMRESULT OutUnprepare(HMIDIOUT handle, LPMIDIHDR header, UINT size);
    MMRESULT OutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size);
    MMRESULT OutReset(HMIDIOUT handle);
    void* Alloc(SIZE_T bytes);
    void Free(void* memory);

private:
    using InputCallback = void(CALLBACK*)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
    void ReturnInput(MIDIHDR* header, UINT message);
    bool HoldsMemory(const void* memory);  // inputLock_ held

    std::mutex inputLock_;
    bool inputOpen_ = false;
    bool inputStarted_ = false;
    InputCallback inputCallback_ = nullptr;
    DWORD_PTR inputInstance_ = 0;
    std::deque<MIDIHDR*> heldInput_;

    std::mutex outputLock_;
    bool outputOpen_ = false;
    std::set<MIDIHDR*> preparedOutput_;
    std::vector<MIDIHDR*> pendingOutput_;
    std::vector<std::vector<std::uint8_t>> sent_;
};

}  // namespace tq5::test
