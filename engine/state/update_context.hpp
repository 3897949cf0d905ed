#pragma once
// State shared by the window, the dispatcher (timer thread) and a procedure's worker:
// the awaited answer and the reply that answered it, reply event, device ids, busy flag, read
// buffer, the stored identity reply and the serialised output line.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "engine/seams/sysex_output.hpp"
#include "engine/state/exchange_log.hpp"
#include "engine/state/reply.hpp"
#include "engine/state/reply_event.hpp"
#include "engine/state/stored_identity_reply.hpp"
#include "protocol/messages.hpp"

namespace tq5::engine {

using protocol::DeviceId;

class UpdateContext {
public:
    static constexpr std::size_t kReadBufferSize = 5824512;
    static constexpr std::size_t kSendBufferSize = 65536;

    // `readBufferSize`: the product's unless a fuzzer wants the end of the buffer close by.
    explicit UpdateContext(std::size_t readBufferSize = kReadBufferSize);
    UpdateContext(const UpdateContext&) = delete;
    UpdateContext& operator=(const UpdateContext&) = delete;

    // --- awaited answer, reply and event ---------------------------------------------------
    ReplyEvent& Event() { return replyEvent_; }
    // Worker: what the request about to leave waits for (SendRequest sets it).
    void Await(Answer answer) { awaited_.store(answer); }
    // Dispatcher: whether a reply of `kind` would answer the request waited for.
    bool Awaits(ReplyKind kind) const { return Answers(awaited_.load(), kind); }
    // Dispatcher: stores `reply` and signals the waiting request when the reply is the kind
    // of answer it waits for; otherwise (a message that only arrived meanwhile) neither.
    // True when posted.
    bool PostReply(Reply reply);
    // Worker: the reply posted last, once its wait has taken the signal.
    Reply LastReply() const;
    // The engine half of the window's destroy handler: the closing flag, then the signal,
    // so that every wait ends at once.
    void MarkClosing();
    bool IsClosing() const { return closing_.load(); }

    // --- reply ledger ---------------------------------------------------------------------
    // Replies carry no reference to the request they answer. So that no answer is ever taken
    // for another request's, status replies are counted against the requests that ask for
    // one: a status reply that arrives while every such request has had its answer is
    // surplus, the mark of a link that delivers replies twice.
    // Worker: counting starts from nothing, before the procedure's first status request.
    void StartReplyLedger() { ResetReplyLedger(true); }
    // Worker: nothing is counted (a procedure's start, before its first status request).
    void CloseReplyLedger() { ResetReplyLedger(false); }
    // Worker: before each request that a status reply answers.
    void ExpectStatusReply();
    // Worker: a status request whose send failed; its answer will not come.
    void CancelStatusRequest();
    // Worker: `count` answers it waited for in vain, given up as lost. One that comes after
    // all is still surplus, but late rather than twice.
    void ForgoStatusReplies(std::int32_t count);
    // Worker: before each read request. A device that will not serve a read answers it with
    // a status reply, its refusal: a failure status that answers no status request is then
    // the read's answer, not a surplus. Status 0 answers no read, and a second status reply
    // to one read is surplus, so a reply that comes twice is still caught.
    void ExpectReadAnswer();
    // Dispatcher: one status reply (with its status) has arrived.
    void NoteStatusReply(std::uint8_t status);
    // Dispatcher: a read reply has arrived: the read being waited for is answered with data.
    void NoteReadReply();
    // Dispatcher: a completion notice has arrived. It answers a status request still owed an
    // answer; with none owed it is the device's own word that it has finished, which the
    // finish request takes as its answer however early it came.
    void NoteCompletionNotice();
    // Status replies that answered no request: those that came twice, and those that came
    // after their request had been given up for lost (LateReplies, a part of them).
    std::int32_t SurplusReplies() const;
    std::int32_t LateReplies() const;
    // Worker: true (once) when a completion notice came while no answer was owed.
    [[nodiscard]] bool TakeUnaskedCompletion();
    // Worker: how long a request waited for its answer; the longest is kept.
    void NoteAnswerTime(std::uint32_t ms);
    std::uint32_t LongestAnswerMs() const;

    // --- busy flag ------------------------------------------------------------------------
    void SetBusy(bool busy) { busy_.store(busy ? 1 : 0); }
    bool IsBusy() const { return busy_.load() != 0; }

    // --- device ids -----------------------------------------------------------------------
    DeviceId ReportedDeviceId() const { return Unpack(reportedDeviceId_.load()); }
    void SetReportedDeviceId(const DeviceId& id) { reportedDeviceId_.store(Pack(id)); }
    DeviceId CurrentDeviceId() const { return Unpack(currentDeviceId_.load()); }
    void SetCurrentDeviceId(const DeviceId& id) { currentDeviceId_.store(Pack(id)); }
    // The device byte of every device-specific message: the current id's first byte.
    std::uint8_t DeviceByte() const { return CurrentDeviceId()[0]; }

    StoredIdentityReply& IdentityReply() { return identityReply_; }

    // --- read buffer ----------------------------------------------------------------------
    // Set by a requester just before it sends a read request.
    void ResetReadCount();
    std::int32_t ReadCount() const;
    // Copies `count` bytes from the start of the read buffer; false if fewer were read.
    [[nodiscard]] bool CopyReadData(std::uint8_t* out, std::size_t count) const;
    // Appends one read reply's data (dispatcher): unpacks, checks the CRC, advances the read
    // count. Returns true when the reply passed. Data that would not fit fails the reply and
    // writes nothing.
    [[nodiscard]] bool AppendReadReply(const std::uint8_t* packed, std::int32_t packedCount,
                                       std::int32_t dataCount, std::uint32_t expectedCrc);

    // --- output ---------------------------------------------------------------------------
    // The output that SendSysEx uses; set by the owner (the dialog's output port).
    void SetOutput(SysExOutput* output);
    // Sends one whole message; true once sent. Sends from the worker and from the dispatcher
    // are serialised, so two messages never interleave on the line.
    [[nodiscard]] bool SendSysEx(const std::uint8_t* bytes, std::size_t length);
    // How long, from now, the messages sent so far still need before their last byte has
    // left the computer: nothing when the output's sends return only once the bytes are out;
    // otherwise their time on a MIDI line, one after the other, from each send's return.
    std::uint32_t LineBacklogMs() const;
    // Dispatcher: the device has answered. Requests go one at a time, each after the answer
    // to the last, so what was sent before has left the computer: the line is clear. (Line
    // time counted for every block of a link faster than MIDI's would otherwise add up to
    // minutes on the wait for the first answer that is lost.)
    void NoteLineClear();

    // The worker's own build buffer; the dispatcher builds its answers elsewhere.
    std::uint8_t* WorkerSendBuffer() { return workerSendBuffer_.get(); }

    // --- what was exchanged, for a support report ----------------------------------------
    ExchangeLog& Log() { return log_; }
    const ExchangeLog& Log() const { return log_; }

private:
    void ResetReplyLedger(bool open);
    // Under the ledger's lock: true when the answer is one owed to a status request (or
    // nothing is counted yet); false when none is owed.
    bool CountAnswer();

    ReplyEvent replyEvent_;
    std::atomic<Answer> awaited_{Answer::None};
    // The reply posted last, kind and status in one word.
    std::atomic<std::uint16_t> lastReply_{0};
    std::atomic<bool> closing_{false};
    std::atomic<std::int32_t> busy_{0};
    // Device ids travel between threads as one 32-bit word, which every compiler keeps
    // lock-free (a four-byte array is only byte-aligned).
    static std::uint32_t Pack(const DeviceId& id) {
        return static_cast<std::uint32_t>(id[0]) | (static_cast<std::uint32_t>(id[1]) << 8) |
               (static_cast<std::uint32_t>(id[2]) << 16) |
               (static_cast<std::uint32_t>(id[3]) << 24);
    }
    static DeviceId Unpack(std::uint32_t v) {
        return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    }
    std::atomic<std::uint32_t> reportedDeviceId_{0};
    std::atomic<std::uint32_t> currentDeviceId_{0};
    StoredIdentityReply identityReply_;

    mutable std::mutex ledgerLock_;
    bool ledgerOpen_ = false;
    std::int32_t statusRepliesOwed_ = 0;
    bool readAnswerOwed_ = false;
    std::int32_t forgoneReplies_ = 0;  // given up for lost; one may still come
    std::int32_t surplusReplies_ = 0;
    std::int32_t lateReplies_ = 0;
    std::int32_t unaskedCompletions_ = 0;
    std::uint32_t longestAnswerMs_ = 0;

    mutable std::mutex readLock_;
    // Zeroed by calloc: the system hands out untouched zero pages, so the 5.8 MB buffer costs
    // memory only as far as replies fill it (normally four bytes).
    struct FreeDeleter {
        void operator()(std::uint8_t* p) const;
    };
    const std::size_t readBufferSize_;
    std::unique_ptr<std::uint8_t[], FreeDeleter> readBuffer_;
    std::int32_t readCount_ = 0;

    std::mutex outputLock_;
    SysExOutput* output_ = nullptr;
    // When the line is clear of what was sent, in steady-clock ticks; written under
    // outputLock_, read by the worker without it (a send may hold the lock for long).
    std::atomic<std::int64_t> lineClearAt_{0};
    std::unique_ptr<std::uint8_t[]> workerSendBuffer_;
    ExchangeLog log_;
};

}  // namespace tq5::engine
