#include "sim/fault_plan.hpp"

#include <algorithm>

namespace tq5::sim {

std::optional<RequestType> RequestTypeOf(protocol::RequestKind kind) {
    switch (kind) {
        case protocol::RequestKind::IdentityRequest:
            return RequestType::IdentityRequest;
        case protocol::RequestKind::EnterUpdate:
            return RequestType::EnterUpdate;
        case protocol::RequestKind::Finish:
            return RequestType::Finish;
        case protocol::RequestKind::Erase:
            return RequestType::Erase;
        case protocol::RequestKind::WriteBlock:
            return RequestType::WriteBlock;
        case protocol::RequestKind::ReadMemory:
            return RequestType::ReadMemory;
        default:
            return std::nullopt;
    }
}

std::string FaultActionName(FaultAction action) {
    switch (action) {
        case FaultAction::DropReply:
            return "drop reply";
        case FaultAction::DelayReply:
            return "delay reply";
        case FaultAction::AnswerStatus:
            return "answer status";
        case FaultAction::CorruptReadCrc:
            return "corrupt read CRC";
        case FaultAction::DuplicateReply:
            return "duplicate reply";
        case FaultAction::SendStray:
            return "stray message";
        case FaultAction::SendTruncated:
            return "truncated reply";
        case FaultAction::AnswerOtherId:
            return "other id";
        case FaultAction::DuplicateLate:
            return "late duplicate";
        case FaultAction::RealTimeBytes:
            return "real-time bytes";
        case FaultAction::SplitReply:
            return "split reply";
        case FaultAction::ForeignUnterminated:
            return "foreign unterminated";
        case FaultAction::LoseRequest:
            return "lost request";
        case FaultAction::RefuseLargeRead:
            return "refuses large read";
        case FaultAction::IgnoreLargeRead:
            return "ignores large read";
        case FaultAction::ReadInPieces:
            return "read in pieces";
        case FaultAction::FlipStoredBit:
            return "flipped stored bit";
    }
    return "fault";
}

bool FaultFits(FaultAction action, RequestType type) {
    switch (action) {
        case FaultAction::CorruptReadCrc:
        case FaultAction::RefuseLargeRead:
        case FaultAction::IgnoreLargeRead:
        case FaultAction::ReadInPieces:
            return type == RequestType::ReadMemory;
        case FaultAction::AnswerOtherId:
            return type == RequestType::IdentityRequest;
        case FaultAction::FlipStoredBit:
            return type == RequestType::WriteBlock;
        default:
            return true;
    }
}

FaultPlan::FaultPlan(std::uint32_t seed) : rng_(seed) {}

void FaultPlan::Add(const Fault& fault) { scripted_.push_back(fault); }

void FaultPlan::SetRandom(const RandomFaults& random) { random_ = random; }

void FaultPlan::Clear() {
    scripted_.clear();
    random_ = {};
}

std::vector<Fault> FaultPlan::Next(RequestType type) {
    const std::uint32_t ordinal = ++counts_[static_cast<std::size_t>(type)];
    std::vector<Fault> hits;
    for (const Fault& fault : scripted_) {
        if (fault.on != type || !FaultFits(fault.action, type)) continue;
        const bool every = fault.ordinal == 0;
        // Compared without overflow: ordinal + count may not fit in 32 bits.
        const bool inRun = ordinal >= fault.ordinal && ordinal - fault.ordinal < fault.count;
        if (every || inRun) hits.push_back(fault);
    }
    if (random_.probability <= 0.0) return hits;
    if (!random_.on.empty() &&
        std::find(random_.on.begin(), random_.on.end(), type) == random_.on.end()) {
        return hits;
    }
    // Two draws per eligible request, whatever the outcome, so that a run with the same seed
    // and the same requests meets the same faults.
    const double roll = static_cast<double>(rng_()) / 4294967296.0;
    const auto pick = static_cast<std::uint32_t>(rng_());
    if (roll >= random_.probability) return hits;
    std::vector<FaultAction> fitting;
    if (random_.actions.empty()) {
        for (std::size_t a = 0; a < kAccidentCount; ++a) {
            if (FaultFits(static_cast<FaultAction>(a), type))
                fitting.push_back(static_cast<FaultAction>(a));
        }
    } else {
        for (FaultAction a : random_.actions) {
            if (FaultFits(a, type)) fitting.push_back(a);
        }
    }
    if (fitting.empty()) return hits;
    Fault fault;
    fault.on = type;
    fault.ordinal = ordinal;
    fault.action = fitting[pick % fitting.size()];
    fault.delayMs = random_.delayMs;
    fault.status = random_.status;
    hits.push_back(fault);
    return hits;
}

}  // namespace tq5::sim
