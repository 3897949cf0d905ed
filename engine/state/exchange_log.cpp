#include "engine/state/exchange_log.hpp"

#include <algorithm>

#include "protocol/device_messages.hpp"

namespace tq5::engine {
namespace {

using protocol::MessageClass;
using protocol::RequestKind;

ExchangeKind KindOf(RequestKind kind) {
    switch (kind) {
        case RequestKind::IdentityRequest:
            return ExchangeKind::IdentityRequest;
        case RequestKind::EnterUpdate:
            return ExchangeKind::EnterUpdate;
        case RequestKind::Erase:
            return ExchangeKind::Erase;
        case RequestKind::WriteBlock:
            return ExchangeKind::WriteBlock;
        case RequestKind::ReadMemory:
            return ExchangeKind::ReadMemory;
        case RequestKind::Finish:
            return ExchangeKind::Finish;
        default:
            return ExchangeKind::OtherRequest;
    }
}

// The step a request belongs to whatever the procedure said last: an erase request leaves
// before its step reports itself. A read belongs to the step that reads.
Phase PhaseOf(ExchangeKind kind, Phase current) {
    switch (kind) {
        case ExchangeKind::IdentityRequest:
            return Phase::Identify;
        case ExchangeKind::EnterUpdate:
            return Phase::EnterUpdate;
        case ExchangeKind::Erase:
            return Phase::Erase;
        case ExchangeKind::WriteBlock:
            return Phase::Write;
        case ExchangeKind::Finish:
            return Phase::Finish;
        default:
            return current;
    }
}

}  // namespace

std::int64_t ExchangeLog::NowUs() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - began_).count();
}

void ExchangeLog::Begin() {
    std::lock_guard guard(lock_);
    began_ = Clock::now();
    beganWall_ = std::chrono::system_clock::now();
    count_ = lastRequest_ = lastDevice_ = lastSent_ = 0;
    phase_ = Phase::Identify;
    phaseSinceUs_ = 0;
    phases_ = {};
    phases_[static_cast<std::size_t>(phase_)].entered = true;
    device_ = {};
}

void ExchangeLog::Switch(Phase phase, std::int64_t nowUs) {
    if (phase == phase_) return;
    Current().timeUs += nowUs - phaseSinceUs_;
    phase_ = phase;
    phaseSinceUs_ = nowUs;
    Current().entered = true;
}

void ExchangeLog::EnterPhase(Phase phase) {
    std::lock_guard guard(lock_);
    Switch(phase, NowUs());
}

ExchangeRecord& ExchangeLog::Add(ExchangeKind kind) {
    ExchangeRecord& record = ring_[count_ % kKept];
    record = ExchangeRecord{};
    record.number = ++count_;
    record.atUs = NowUs();
    record.kind = kind;
    record.phase = phase_;
    return record;
}

ExchangeRecord* ExchangeLog::Find(std::uint32_t number) {
    if (number == 0 || number + kKept <= count_) return nullptr;  // none, or no longer kept
    return &ring_[(number - 1) % kKept];
}

void ExchangeLog::Answer(ExchangeRecord& record, ExchangeAnswer answer, std::uint8_t status) {
    if (record.answer != ExchangeAnswer::None) return;  // the first answer counts
    record.answer = answer;
    record.status = status;
    if (record.waitUs < 0) record.waitUs = NowUs() - record.atUs;
}

void ExchangeLog::NoteSending(const std::uint8_t* bytes, std::size_t length) {
    // The updater's own builders made it: its fields are where its layout puts them, and no
    // byte of a write block's data needs looking at.
    const protocol::DeviceRequest request =
        protocol::ParseRequest(bytes, length, protocol::Layout::Trusted);
    std::lock_guard guard(lock_);
    // The updater's answers to the device's own messages complete those exchanges.
    if (request.kind == RequestKind::StatusMessage || request.kind == RequestKind::IdentityReply) {
        lastSent_ = 0;
        ExchangeRecord* device = Find(lastDevice_);
        if (device == nullptr) return;
        lastSent_ = device->number;
        Answer(*device,
               request.kind == RequestKind::IdentityReply ? ExchangeAnswer::IdentityReply
               : request.status == protocol::kStatusOk    ? ExchangeAnswer::Acknowledged
                                                          : ExchangeAnswer::ErrorReply,
               request.status);
        return;
    }
    const ExchangeKind kind = KindOf(request.kind);
    const std::int64_t now = NowUs();
    Switch(PhaseOf(kind, phase_), now);
    const ExchangeRecord* before = Find(lastRequest_);
    ExchangeRecord& record = Add(kind);
    record.hasAddress = request.kind == RequestKind::Erase ||
                        request.kind == RequestKind::WriteBlock ||
                        request.kind == RequestKind::ReadMemory;
    record.address = request.address;
    record.size = request.kind == RequestKind::WriteBlock
                      ? static_cast<std::uint32_t>(request.dataCount)
                      : request.size;
    record.resend = before != nullptr && before->kind == record.kind &&
                    before->address == record.address && before->size == record.size;
    lastRequest_ = lastSent_ = record.number;
    PhaseRecord& phase = Current();
    ++phase.requests;
    if (record.resend) ++phase.resends;
}

void ExchangeLog::NoteSendFailed() {
    std::lock_guard guard(lock_);
    ++Current().sendFailures;
    if (ExchangeRecord* record = Find(lastSent_)) {
        record->answer = ExchangeAnswer::SendFailed;
        record->waitUs = -1;
    }
}

void ExchangeLog::NoteNoAnswer() {
    std::lock_guard guard(lock_);
    ++Current().timeouts;
    ExchangeRecord* record = Find(lastRequest_);
    if (record == nullptr) return;
    record->gaveUp = true;
    if (record->answer == ExchangeAnswer::None && record->waitUs < 0) {
        record->waitUs = NowUs() - record->atUs;
    }
}

void ExchangeLog::NoteReceived(const protocol::ClassifiedMessage& message) {
    std::lock_guard guard(lock_);
    ExchangeAnswer answer = ExchangeAnswer::None;
    switch (message.kind) {
        case MessageClass::StatusReply:
            answer = ExchangeAnswer::Status;
            if (message.status != protocol::kStatusOk) {
                PhaseRecord& phase = Current();
                ++phase.refusals;
                ++phase.refusedWith[message.status];
            }
            break;
        case MessageClass::CompletionNotice:
            answer = ExchangeAnswer::Completion;
            break;
        case MessageClass::IdentityReply:
            answer = ExchangeAnswer::Identity;
            device_.identified = true;
            device_.id = message.deviceId;
            break;
        case MessageClass::ReadMemoryReply:
            answer = ExchangeAnswer::ReadData;
            break;
        case MessageClass::ReadReplyFailed:
            answer = ExchangeAnswer::ReadFailed;
            break;
        case MessageClass::ReadReplyOther:
            answer = ExchangeAnswer::ReadOther;
            break;
        case MessageClass::DeviceCommand:
            lastDevice_ = Add(ExchangeKind::DeviceCommand).number;
            return;
        case MessageClass::IdentityRequest:
            lastDevice_ = Add(ExchangeKind::DeviceIdentityRequest).number;
            return;
        case MessageClass::UnknownCommand:
        case MessageClass::UnknownUniversal:
            lastDevice_ = Add(ExchangeKind::DeviceUnknown).number;
            return;
        case MessageClass::Ignored:
            return;
    }
    ExchangeRecord* record = Find(lastRequest_);
    if (record == nullptr) {
        record = &Add(ExchangeKind::Unasked);
        lastRequest_ = record->number;
    }
    if (record->replies < UINT16_MAX) ++record->replies;
    // A reply that came after its wait ended is still the answer this request got.
    Answer(*record, answer, message.status);
}

void ExchangeLog::NoteUnowedReply(bool late) {
    std::lock_guard guard(lock_);
    PhaseRecord& phase = Current();
    ++phase.surplus;
    if (late) ++phase.late;
    if (ExchangeRecord* record = Find(lastRequest_)) {
        if (record->surplus < UINT8_MAX) ++record->surplus;
        if (late && record->late < UINT8_MAX) ++record->late;
    }
}

void ExchangeLog::NoteDeviceVersion(VersionSlot slot, const std::uint8_t* field) {
    std::lock_guard guard(lock_);
    const auto i = static_cast<std::size_t>(slot);
    device_.versionRead[i] = true;
    std::copy(field, field + device_.versions[i].size(), device_.versions[i].begin());
}

TrafficRecord ExchangeLog::Snapshot() const {
    std::lock_guard guard(lock_);
    TrafficRecord traffic;
    traffic.began = beganWall_;
    traffic.durationUs = NowUs();
    traffic.exchanges = count_;
    const std::uint32_t kept = std::min<std::uint32_t>(count_, kKept);
    traffic.last.reserve(kept);
    for (std::uint32_t n = count_ - kept + 1; n <= count_; ++n) {
        traffic.last.push_back(ring_[(n - 1) % kKept]);
    }
    traffic.phases = phases_;
    // The step in progress counts until now.
    traffic.phases[static_cast<std::size_t>(phase_)].timeUs += traffic.durationUs - phaseSinceUs_;
    traffic.device = device_;
    return traffic;
}

}  // namespace tq5::engine
