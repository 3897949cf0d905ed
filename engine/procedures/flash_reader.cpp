#include "engine/procedures/flash_reader.hpp"

#include <algorithm>

#include "engine/procedures/exchange.hpp"

namespace tq5::engine {
namespace {

// Replies carry no reference to their request. Before data read now is trusted, the late
// answers to earlier sends of the same read are waited for (one wait each): taken for the
// next read's, they would be compared with the wrong bytes.
ReadResult AwaitLateAnswers(UpdateContext& context, int unanswered, std::uint32_t waitMs) {
    for (; unanswered > 0; --unanswered) {
        const Waited late = AwaitReply(context, waitMs);
        if (late.end == WaitEnd::TimedOut) break;  // the rest were lost
        if (late.end == WaitEnd::Closing) return {ReadOutcome::Closing};
        if (late.end == WaitEnd::Surplus) return {ReadOutcome::Duplicated};
    }
    return {ReadOutcome::Read};
}

}  // namespace

std::uint32_t FlashReader::ServedWaitMs(const Timing& timing, std::uint64_t slowestMs) {
    // A few times the slowest answer (never less than the check's own wait) tells a lost
    // read from a slow one without waiting a minute for every loss.
    return static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>(4 * slowestMs, timing.verifyReadWaitMs,
                                  std::max(timing.verifyReadWaitMs, timing.eraseReadWaitMs)));
}

std::uint32_t FlashReader::WaitMs(const Timing& timing, Clock::time_point now) const {
    // The first answer of a size may take as long as any memory read.
    std::uint32_t wait = served_ ? ServedWaitMs(timing, slowestMs_) : timing.eraseReadWaitMs;
    if (giveUpAt_) {
        if (now >= *giveUpAt_) return 0;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*giveUpAt_ - now).count();
        wait = std::min<std::uint32_t>(wait, static_cast<std::uint32_t>(left));
    }
    return wait;
}

void FlashReader::NotServed(const Timing& timing, const ReadResult& result,
                            Clock::time_point sentAt) {
    const bool silent = result.outcome == ReadOutcome::TimedOut;
    // Silence is bounded as a whole: two memory reads' waits from the first read that went
    // unanswered, whatever sizes are tried in between.
    if (silent && !giveUpAt_) {
        giveUpAt_ = sentAt + 2 * std::chrono::milliseconds(timing.eraseReadWaitMs);
    }
    if (size_ > kSmallestReadBytes) {
        // A refusal is the device's word; silence or a broken reply may be the link's.
        if (result.outcome != ReadOutcome::Refused && retry_ == 0) retry_ = size_;
        // A device that does not answer a large read at all may answer a small one: going
        // down by halves would cost a whole wait for each size.
        size_ = silent ? kSmallestReadBytes : std::max(kSmallestReadBytes, size_ / 2);
        return;
    }
    unreadableCause_ = silent                                   ? Cause::TimedOut
                       : result.outcome == ReadOutcome::Refused ? Cause::DeviceStatus
                                                                : Cause::BrokenReply;
    unreadableStatus_ = result.outcome == ReadOutcome::Refused ? result.status : 0;
    const bool outOfTime = giveUpAt_ && Clock::now() >= *giveUpAt_;
    if (++smallestFailures_ >= kMaxReadAttempts || outOfTime) unreadable_ = true;
}

ReadResult FlashReader::Read(const ProcedureEnv& env, std::uint32_t address, std::uint32_t length,
                             std::uint8_t* out) {
    UpdateContext& context = env.context;
    std::uint32_t offset = 0;
    int failures = 0;    // failed attempts in a row at a size that has been served
    int unanswered = 0;  // sends of this piece whose answer never came
    while (offset < length) {
        if (unreadable_) return {ReadOutcome::Unreadable};
        const Clock::time_point sentAt = Clock::now();
        // A larger size that went unanswered or came back broken may have met a loss on the
        // link: once a smaller size is served, it is tried once more, with a wait scaled from
        // the smaller size's answers.
        const bool retrying = served_ && retry_ > size_ && length - offset >= retry_;
        const std::uint32_t piece = retrying ? retry_ : std::min(size_, length - offset);
        const std::uint32_t waitMs =
            retrying ? ServedWaitMs(env.timing, std::uint64_t{slowestMs_} * (retry_ / size_))
                     : WaitMs(env.timing, sentAt);
        if (retrying) retry_ = 0;
        if (waitMs == 0) {
            NotServed(env.timing, {ReadOutcome::TimedOut}, sentAt);
            continue;
        }
        const ReadResult result = ExchangeRead(env, address + offset, piece, piece, waitMs);
        switch (result.outcome) {
            case ReadOutcome::Read: {
                if (retrying) {
                    size_ = piece;
                    slowestMs_ = 0;
                }
                slowestMs_ = std::max(slowestMs_, MsSince(sentAt));
                served_ = true;
                giveUpAt_.reset();
                const ReadResult settled =
                    AwaitLateAnswers(context, unanswered, WaitMs(env.timing, Clock::now()));
                if (settled.outcome != ReadOutcome::Read) return settled;
                if (!context.CopyReadData(out + offset, piece)) return {ReadOutcome::Failed};
                offset += piece;
                failures = 0;
                unanswered = 0;
                continue;
            }
            case ReadOutcome::Closing:
            case ReadOutcome::Duplicated:
            case ReadOutcome::Unreadable:
                return result;
            case ReadOutcome::TimedOut:
                ++unanswered;
                break;
            case ReadOutcome::SendFailed:
            case ReadOutcome::Refused:
            case ReadOutcome::Failed:
                break;
        }
        if (retrying) continue;  // the size served stays
        // Once a size has been served, a lost or broken answer is the link's: the read goes
        // again at that size. So does a read that could not be sent, which says nothing of
        // the device.
        if (served_ || result.outcome == ReadOutcome::SendFailed) {
            if (++failures >= kMaxReadAttempts) return result;
        } else {
            NotServed(env.timing, result, sentAt);
        }
        Pause(context, env.timing.retryPauseMs);
    }
    return {ReadOutcome::Read};
}

ReadBack FlashReader::Summary() const {
    ReadBack summary;
    summary.result = verified_     ? ReadBackResult::Verified
                     : unreadable_ ? ReadBackResult::Unreadable
                                   : ReadBackResult::NotRun;
    summary.readBytes = served_ ? size_ : 0;
    if (unreadable_) {
        summary.unreadable = unreadableCause_;
        summary.status = unreadableStatus_;
    }
    summary.bytesCompared = compared_;
    summary.blocksFoundWritten = blocksFoundWritten_;
    return summary;
}

}  // namespace tq5::engine
