#include "sim/devsim/fault_option.hpp"

#include <map>
#include <sstream>
#include <vector>

namespace tq5::sim {
namespace {

const std::map<std::string, RequestType>& RequestNames() {
    static const std::map<std::string, RequestType> names{
        {"identity", RequestType::IdentityRequest},
        {"enter-update", RequestType::EnterUpdate},
        {"finish", RequestType::Finish},
        {"erase", RequestType::Erase},
        {"write-block", RequestType::WriteBlock},
        {"read-memory", RequestType::ReadMemory}};
    return names;
}

const std::map<std::string, FaultAction>& ActionNames() {
    static const std::map<std::string, FaultAction> names{
        {"drop-reply", FaultAction::DropReply},
        {"delay-reply", FaultAction::DelayReply},
        {"answer-status", FaultAction::AnswerStatus},
        {"corrupt-read-crc", FaultAction::CorruptReadCrc},
        {"duplicate-reply", FaultAction::DuplicateReply},
        {"stray-message", FaultAction::SendStray},
        {"truncate-reply", FaultAction::SendTruncated},
        {"answer-other-id", FaultAction::AnswerOtherId},
        {"duplicate-late", FaultAction::DuplicateLate},
        {"realtime-bytes", FaultAction::RealTimeBytes},
        {"split-reply", FaultAction::SplitReply},
        {"foreign-unterminated", FaultAction::ForeignUnterminated},
        {"lose-request", FaultAction::LoseRequest},
        {"refuse-read-above", FaultAction::RefuseLargeRead},
        {"ignore-read-above", FaultAction::IgnoreLargeRead},
        {"read-in-pieces", FaultAction::ReadInPieces},
        {"flip-stored-bit", FaultAction::FlipStoredBit}};
    return names;
}

std::optional<unsigned long> ParseNumber(const std::string& text, unsigned long max) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 9) {
        return std::nullopt;
    }
    const unsigned long value = std::stoul(text);
    if (value > max) return std::nullopt;
    return value;
}

std::string Keys(const auto& names) {
    std::string keys;
    for (const auto& [name, value] : names) keys += (keys.empty() ? "" : ", ") + name;
    return keys;
}

}  // namespace

std::optional<Fault> ParseFaultOption(const std::string& text) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, ':');) parts.push_back(part);
    if (parts.size() < 3 || parts.size() > 4) return std::nullopt;

    const auto request = RequestNames().find(parts[0]);
    const auto action = ActionNames().find(parts[2]);
    // ORDINAL, or FIRST-LAST for a run of requests.
    const std::size_t dash = parts[1].find('-');
    const auto ordinal = ParseNumber(parts[1].substr(0, dash), 0xFFFFFFFFul);
    const auto last =
        dash == std::string::npos ? ordinal : ParseNumber(parts[1].substr(dash + 1), 0xFFFFFFFFul);
    if (request == RequestNames().end() || action == ActionNames().end() || !ordinal || !last ||
        *last < *ordinal || (*ordinal == 0 && dash != std::string::npos)) {
        return std::nullopt;
    }
    Fault fault;
    fault.on = request->second;
    fault.action = action->second;
    fault.ordinal = static_cast<std::uint32_t>(*ordinal);
    fault.count = static_cast<std::uint32_t>(*last - *ordinal + 1);
    if (fault.action == FaultAction::DuplicateLate) fault.delayMs = kDefaultLateCopyMs;
    if (fault.action == FaultAction::RefuseLargeRead ||
        fault.action == FaultAction::IgnoreLargeRead) {
        fault.bytes = kDefaultLargestRead;
    }
    if (fault.action == FaultAction::ReadInPieces) fault.bytes = kDefaultReadPiece;
    if (!FaultFits(fault.action, fault.on)) return std::nullopt;
    if (parts.size() == 4) {
        const auto value = ParseNumber(
            parts[3], fault.action == FaultAction::AnswerStatus ? 0x7Ful : 0xFFFFFFFFul);
        if (!value) return std::nullopt;
        switch (fault.action) {
            case FaultAction::DelayReply:
            case FaultAction::DuplicateLate:
                fault.delayMs = static_cast<std::uint32_t>(*value);
                break;
            case FaultAction::SplitReply:
                fault.splitAt = *value;
                break;
            case FaultAction::AnswerStatus:
                fault.status = static_cast<std::uint8_t>(*value);
                break;
            case FaultAction::SendTruncated:
                fault.truncateTo = *value;
                break;
            case FaultAction::RefuseLargeRead:
            case FaultAction::IgnoreLargeRead:
            case FaultAction::ReadInPieces:
                if (*value == 0) return std::nullopt;
                fault.bytes = static_cast<std::uint32_t>(*value);
                break;
            default:
                return std::nullopt;  // the action takes no value
        }
    }
    return fault;
}

std::string RequestOptionName(RequestType type) {
    for (const auto& [name, value] : RequestNames()) {
        if (value == type) return name;
    }
    return {};
}

std::string FaultOptionHelp() {
    return "REQUEST:ORDINAL:ACTION[:VALUE] (repeatable); ORDINAL 0 = every one, FIRST-LAST a "
           "run; REQUEST: " +
           Keys(RequestNames()) + "; ACTION: " + Keys(ActionNames()) +
           "; VALUE: delay ms (delay-reply; duplicate-late, default " +
           std::to_string(kDefaultLateCopyMs) +
           "), status (answer-status), length (truncate-reply; split-reply: the first piece), "
           "bytes (refuse-read-above, ignore-read-above: the largest read served, default " +
           std::to_string(kDefaultLargestRead) + "; read-in-pieces: bytes per reply, default " +
           std::to_string(kDefaultReadPiece) + ")";
}

}  // namespace tq5::sim
