#pragma once
// How the read-back check reads the device's flash. The update's own reads are four bytes
// long; how large a read the TQ-5 serves is the device's own affair, so the reader finds out.
// It starts with reads as large as a write block. While no read has been answered, a read
// that is refused or comes back broken is taken for a size the device does not serve (half
// that size next), and one that goes unanswered for a device that answers only small reads
// (the smallest size next). The first size that is answered is kept for the rest of the
// update, except that the largest size that failed without a refusal is tried once more (the
// link may have lost it). A device that answers no read at all is given up on, and the
// update then ends as it ends without the check.

#include <chrono>
#include <cstdint>
#include <optional>

#include "engine/outcome.hpp"
#include "engine/procedures/procedure_env.hpp"
#include "engine/procedures/read_device_memory.hpp"

namespace tq5::engine {

// The first read size tried: a reply of a write block's size (4,700 bytes), which every MIDI
// system the updater runs on carries whole.
inline constexpr std::uint32_t kLargestReadBytes = 4096;
// The smallest read size tried. Line time is what reading back costs on a 31,250-baud line,
// and the 7-in-8 packing, not the reply's head, is most of it: 256-byte reads take about 11 %
// longer than 4,096-byte ones (327 against 295 bytes on the line per 256 read), 128-byte reads
// 23 % and 64-byte reads 47 %; and each read is a round trip through the MIDI stack, 16 times
// as many at 256 bytes as at 4,096. A device that serves only smaller reads is updated without
// the check, as the window updates every device.
inline constexpr std::uint32_t kSmallestReadBytes = 256;
// Attempts of one read (no answer, a broken one) at a size the device has served, before the
// check fails; and attempts at the smallest size before no read counts as served.
inline constexpr int kMaxReadAttempts = 8;

class FlashReader {
public:
    // Reads `length` bytes of flash at `address` into `out`. Read; Unreadable once no read
    // size is served (then nothing is sent); Closing; Duplicated; or how the last attempt
    // failed, when a size the device served before keeps failing.
    ReadResult Read(const ProcedureEnv& env, std::uint32_t address, std::uint32_t length,
                    std::uint8_t* out);

    bool Unreadable() const { return unreadable_; }
    void NoteCompared(std::int64_t bytes) { compared_ += bytes; }
    void NoteBlockFoundWritten() { ++blocksFoundWritten_; }
    // Every written region was read back and found equal to its image.
    void MarkVerified() { verified_ = true; }
    // What the check has learnt so far, for the outcome.
    ReadBack Summary() const;

private:
    using Clock = std::chrono::steady_clock;

    // The wait for a read's answer sent now; 0 when the device has had its time.
    std::uint32_t WaitMs(const Timing& timing, Clock::time_point now) const;
    // The wait for a read of a size served, whose slowest answer took `slowestMs`.
    static std::uint32_t ServedWaitMs(const Timing& timing, std::uint64_t slowestMs);
    // A read of the current size failed before any read was answered.
    void NotServed(const Timing& timing, const ReadResult& result, Clock::time_point sentAt);

    std::uint32_t size_ = kLargestReadBytes;
    bool served_ = false;          // a read of `size_` has been answered
    std::uint32_t slowestMs_ = 0;  // the longest a read of `size_` took to be answered
    std::uint32_t retry_ = 0;      // a larger size to try once more once `size_` is served
    // Until a read is answered: when the device has had two memory reads' waits in silence.
    std::optional<Clock::time_point> giveUpAt_;
    int smallestFailures_ = 0;
    bool unreadable_ = false;
    Cause unreadableCause_ = Cause::None;
    std::int32_t unreadableStatus_ = 0;
    std::int64_t compared_ = 0;
    int blocksFoundWritten_ = 0;
    bool verified_ = false;
};

}  // namespace tq5::engine
