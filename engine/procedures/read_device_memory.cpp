#include "engine/procedures/read_device_memory.hpp"

#include "engine/procedures/flash_steps.hpp"
#include "engine/string_table.hpp"

namespace tq5::engine {

ReadResult ExchangeRead(const ProcedureEnv& env, std::uint32_t address, std::uint32_t length,
                        std::uint32_t count, std::uint32_t waitMs) {
    UpdateContext& context = env.context;
    std::uint8_t* request = context.WorkerSendBuffer();
    const std::size_t size =
        protocol::BuildReadMemoryRequest(request, context.DeviceByte(), address, length);
    context.ResetReadCount();  // before the request leaves, so its replies append from 0
    if (!SendRequest(context, request, size, Answer::Read)) {
        return {context.IsClosing() ? ReadOutcome::Closing : ReadOutcome::SendFailed};
    }
    for (;;) {
        const Waited waited = AwaitReply(context, waitMs);
        switch (waited.end) {
            case WaitEnd::TimedOut:
                return {ReadOutcome::TimedOut};
            case WaitEnd::Closing:
                return {ReadOutcome::Closing};
            case WaitEnd::Surplus:
                return {ReadOutcome::Duplicated};
            case WaitEnd::Answered:
                break;
        }
        switch (waited.reply.kind) {
            case ReplyKind::ReadData:
                break;
            case ReplyKind::Status:
                // A failure status is the device's refusal; status 0 answers no read.
                if (waited.reply.status != 0) return {ReadOutcome::Refused, waited.reply.status};
                return {ReadOutcome::Failed, 0};
            case ReplyKind::ReadBroken:
                return {ReadOutcome::Failed, protocol::kStatusError};
            default:  // a read reply of another kind: no data
                return {ReadOutcome::Failed, 0};
        }
        // A signal with nothing read is not this read's answer: the last piece of the read
        // before raised it after the worker had already seen that read whole (the data is
        // counted before the signal), and after this request's reset. The answer is still
        // to come.
        const std::int32_t read = context.ReadCount();
        if (read >= static_cast<std::int64_t>(count)) return {ReadOutcome::Read};
        // Part of the data has come: the rest follows in further replies.
    }
}

Failure ReadFailure(const UpdateContext& context, int messageId, Phase phase,
                    const ReadResult& result) {
    switch (result.outcome) {
        case ReadOutcome::TimedOut:
            return FailureOf(messageId, phase, Cause::TimedOut);
        case ReadOutcome::SendFailed:
            return FailureOf(messageId, phase, Cause::SendFailed);
        case ReadOutcome::Duplicated:
            return SurplusFailure(context, phase);
        case ReadOutcome::Refused:
            return FailureOf(messageId, phase, Cause::DeviceStatus, result.status);
        case ReadOutcome::Failed:
            return FailureOf(messageId, phase, Cause::BrokenReply, result.status);
        case ReadOutcome::Read:
        case ReadOutcome::Closing:
        case ReadOutcome::Unreadable:
            break;
    }
    return FailureOf(messageId, phase, Cause::None);
}

Result ReadDeviceMemory(const ProcedureEnv& env, std::uint32_t address, std::uint32_t length,
                        std::uint8_t* out) {
    const ReadResult result =
        ExchangeRead(env, address, length, kVersionFieldLength, env.timing.eraseReadWaitMs);
    if (result.outcome == ReadOutcome::Closing) return Result::Closing();
    if (result.outcome != ReadOutcome::Read) {
        return Result::Failed(ReadFailure(env.context, 0, Phase::Versions, result));
    }
    if (!env.context.CopyReadData(out, kVersionFieldLength)) {
        return Result::Failed(FailureOf(0, Phase::Versions, Cause::BrokenReply));
    }
    return Result::Ok();
}

}  // namespace tq5::engine
