#include "engine/state/update_context.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/timing.hpp"
#include "protocol/codec.hpp"

namespace tq5::engine {

UpdateContext::UpdateContext(std::size_t readBufferSize)
    : readBufferSize_(readBufferSize),
      readBuffer_(static_cast<std::uint8_t*>(std::calloc(readBufferSize, 1))),
      workerSendBuffer_(new std::uint8_t[kSendBufferSize]()) {
    if (!readBuffer_) throw std::bad_alloc();
}

void UpdateContext::FreeDeleter::operator()(std::uint8_t* p) const { std::free(p); }

void UpdateContext::MarkClosing() {
    closing_.store(true);
    replyEvent_.Set();
}

bool UpdateContext::PostReply(Reply reply) {
    if (!Awaits(reply.kind)) return false;
    // Stored before the signal, which publishes it.
    lastReply_.store(
        static_cast<std::uint16_t>(static_cast<unsigned>(reply.kind) << 8 | reply.status));
    replyEvent_.Set();
    return true;
}

Reply UpdateContext::LastReply() const {
    const std::uint16_t packed = lastReply_.load();
    return {static_cast<ReplyKind>(packed >> 8), static_cast<std::uint8_t>(packed & 0xFF)};
}

void UpdateContext::ResetReplyLedger(bool open) {
    std::lock_guard guard(ledgerLock_);
    ledgerOpen_ = open;
    statusRepliesOwed_ = 0;
    readAnswerOwed_ = false;
    forgoneReplies_ = 0;
    surplusReplies_ = 0;
    lateReplies_ = 0;
    unaskedCompletions_ = 0;
    longestAnswerMs_ = 0;
}

void UpdateContext::ExpectStatusReply() {
    std::lock_guard guard(ledgerLock_);
    ++statusRepliesOwed_;
    // A read still unanswered has been given up: its refusal, should it come now, is late.
    if (readAnswerOwed_) {
        readAnswerOwed_ = false;
        ++forgoneReplies_;
    }
}

void UpdateContext::CancelStatusRequest() {
    std::lock_guard guard(ledgerLock_);
    statusRepliesOwed_ = std::max(0, statusRepliesOwed_ - 1);
}

void UpdateContext::ForgoStatusReplies(std::int32_t count) {
    std::lock_guard guard(ledgerLock_);
    const std::int32_t forgone = std::min(statusRepliesOwed_, std::max(0, count));
    statusRepliesOwed_ -= forgone;
    forgoneReplies_ += forgone;
}

void UpdateContext::ExpectReadAnswer() {
    std::lock_guard guard(ledgerLock_);
    readAnswerOwed_ = true;
}

void UpdateContext::NoteReadReply() {
    std::lock_guard guard(ledgerLock_);
    readAnswerOwed_ = false;
}

bool UpdateContext::CountAnswer() {
    if (!ledgerOpen_) return true;  // before a procedure counts, a stray answer proves nothing
    if (statusRepliesOwed_ == 0) return false;
    --statusRepliesOwed_;
    return true;
}

void UpdateContext::NoteStatusReply(std::uint8_t status) {
    bool late = false;
    {
        std::lock_guard guard(ledgerLock_);
        if (CountAnswer()) return;
        if (status != 0 && readAnswerOwed_) {
            readAnswerOwed_ = false;  // the read's refusal
            return;
        }
        ++surplusReplies_;
        if (forgoneReplies_ > 0) {
            --forgoneReplies_;
            ++lateReplies_;
            late = true;
        }
    }
    log_.NoteUnowedReply(late);
}

void UpdateContext::NoteCompletionNotice() {
    std::lock_guard guard(ledgerLock_);
    if (!CountAnswer()) ++unaskedCompletions_;
}

bool UpdateContext::TakeUnaskedCompletion() {
    std::lock_guard guard(ledgerLock_);
    if (unaskedCompletions_ == 0) return false;
    --unaskedCompletions_;
    return true;
}

std::int32_t UpdateContext::SurplusReplies() const {
    std::lock_guard guard(ledgerLock_);
    return surplusReplies_;
}

std::int32_t UpdateContext::LateReplies() const {
    std::lock_guard guard(ledgerLock_);
    return lateReplies_;
}

void UpdateContext::NoteAnswerTime(std::uint32_t ms) {
    std::lock_guard guard(ledgerLock_);
    longestAnswerMs_ = std::max(longestAnswerMs_, ms);
}

std::uint32_t UpdateContext::LongestAnswerMs() const {
    std::lock_guard guard(ledgerLock_);
    return longestAnswerMs_;
}

void UpdateContext::ResetReadCount() {
    std::lock_guard guard(readLock_);
    readCount_ = 0;
}

std::int32_t UpdateContext::ReadCount() const {
    std::lock_guard guard(readLock_);
    return readCount_;
}

bool UpdateContext::CopyReadData(std::uint8_t* out, std::size_t count) const {
    std::lock_guard guard(readLock_);
    if (count > readBufferSize_) return false;
    std::memcpy(out, readBuffer_.get(), count);
    return static_cast<std::size_t>(readCount_) >= count;
}

bool UpdateContext::AppendReadReply(const std::uint8_t* packed, std::int32_t packedCount,
                                    std::int32_t dataCount, std::uint32_t expectedCrc) {
    if (dataCount < 0 || protocol::UnpackedLength(packedCount) != dataCount) return false;
    std::lock_guard guard(readLock_);
    const auto at = static_cast<std::size_t>(readCount_);
    if (at + static_cast<std::size_t>(dataCount) > readBufferSize_) return false;
    std::uint8_t* dest = readBuffer_.get() + at;
    protocol::UnpackPayload(dest, packed, packedCount);
    if (protocol::ComputeCrc32(dest, static_cast<std::uint32_t>(dataCount)) != expectedCrc) {
        return false;  // the bytes stay; the next reply overwrites them
    }
    readCount_ += dataCount;
    return true;
}

void UpdateContext::SetOutput(SysExOutput* output) {
    std::lock_guard guard(outputLock_);
    output_ = output;
}

bool UpdateContext::SendSysEx(const std::uint8_t* bytes, std::size_t length) {
    if (bytes == nullptr || length == 0 || length > 0xFFFFFFFFu) return false;
    std::lock_guard guard(outputLock_);
    // Noted before the bytes leave: the answer may be in before the send returns.
    log_.NoteSending(bytes, length);
    if (output_ == nullptr || !output_->SendLong(bytes, static_cast<std::uint32_t>(length))) {
        log_.NoteSendFailed();
        return false;
    }
    if (output_->SendReturnsBeforeLineTime()) {
        // The system holds the bytes and puts them on the line after whatever it still holds.
        using Clock = std::chrono::steady_clock;
        const Clock::rep now = Clock::now().time_since_epoch().count();
        const Clock::rep start = std::max(now, lineClearAt_.load());
        lineClearAt_.store(
            start + std::chrono::duration_cast<Clock::duration>(MidiLineTime(length)).count());
    }
    return true;
}

void UpdateContext::NoteLineClear() {
    // Without the output's lock, which a send holds while it blocks: a send that meanwhile
    // stores a later time keeps it, which only lengthens one wait.
    const std::int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::int64_t clearAt = lineClearAt_.load();
    while (clearAt > now && !lineClearAt_.compare_exchange_weak(clearAt, now)) {
    }
}

std::uint32_t UpdateContext::LineBacklogMs() const {
    using Clock = std::chrono::steady_clock;
    const Clock::duration left{lineClearAt_.load() - Clock::now().time_since_epoch().count()};
    if (left <= Clock::duration::zero()) return 0;
    // Rounded up: a wait never ends before the last byte has left.
    return static_cast<std::uint32_t>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

}  // namespace tq5::engine
