#include "app/outcome_keys.hpp"

namespace tq5::app {

using engine::Cause;
using engine::ExchangeAnswer;
using engine::ExchangeKind;
using engine::Phase;

std::string_view PhaseKey(Phase phase) {
    switch (phase) {
        case Phase::Identify:
            return "identify";
        case Phase::EnterUpdate:
            return "enter-update";
        case Phase::BootVersion:
            return "boot-version";
        case Phase::Erase:
            return "erase";
        case Phase::Write:
            return "write";
        case Phase::Verify:
            return "verify";
        case Phase::Finish:
            return "finish";
        case Phase::Versions:
            return "versions";
    }
    return "unknown";
}

std::string_view CauseKey(Cause cause) {
    switch (cause) {
        case Cause::None:
            return "none";
        case Cause::TimedOut:
            return "timed-out";
        case Cause::SendFailed:
            return "send-failed";
        case Cause::DeviceStatus:
            return "device-status";
        case Cause::NotInUpdateMode:
            return "not-in-update-mode";
        case Cause::IllegalDevice:
            return "illegal-device";
        case Cause::BrokenReply:
            return "broken-reply";
        case Cause::DuplicateReplies:
            return "duplicate-replies";
        case Cause::LateReply:
            return "late-reply";
        case Cause::Mismatch:
            return "mismatch";
        case Cause::MissingImage:
            return "missing-image";
    }
    return "unknown";
}

std::string_view ExchangeKindKey(ExchangeKind kind) {
    switch (kind) {
        case ExchangeKind::IdentityRequest:
            return "identity-request";
        case ExchangeKind::EnterUpdate:
            return "enter-update";
        case ExchangeKind::Erase:
            return "erase";
        case ExchangeKind::WriteBlock:
            return "write-block";
        case ExchangeKind::ReadMemory:
            return "read-memory";
        case ExchangeKind::Finish:
            return "finish";
        case ExchangeKind::OtherRequest:
            return "other-request";
        case ExchangeKind::DeviceCommand:
            return "device-command";
        case ExchangeKind::DeviceIdentityRequest:
            return "device-identity-request";
        case ExchangeKind::DeviceUnknown:
            return "device-unknown";
        case ExchangeKind::Unasked:
            return "unasked";
    }
    return "unknown";
}

std::string_view AnswerKey(ExchangeAnswer answer) {
    switch (answer) {
        case ExchangeAnswer::None:
            return "none";
        case ExchangeAnswer::SendFailed:
            return "send-failed";
        case ExchangeAnswer::Status:
            return "status";
        case ExchangeAnswer::Completion:
            return "completion";
        case ExchangeAnswer::Identity:
            return "identity";
        case ExchangeAnswer::ReadData:
            return "read-data";
        case ExchangeAnswer::ReadFailed:
            return "read-failed";
        case ExchangeAnswer::ReadOther:
            return "read-other";
        case ExchangeAnswer::Acknowledged:
            return "acknowledged";
        case ExchangeAnswer::ErrorReply:
            return "error-reply";
        case ExchangeAnswer::IdentityReply:
            return "identity-reply";
    }
    return "unknown";
}

}  // namespace tq5::app
