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
        const std::optional<std::int32_t> status = AwaitReply(context, waitMs);
        if (!status) return {ReadOutcome::TimedOut};
        if (*status == kStatusClosing) return {ReadOutcome::Closing};
        if (*status == kStatusDuplicated) return {ReadOutcome::Duplicated};
        if (*status != 0) {
            const bool refusal = context.LastReply() == UpdateContext::ReplyKind::Status;
            return {refusal ? ReadOutcome::Refused : ReadOutcome::Failed, *status};
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
            return {messageId, phase, Cause::TimedOut};
        case ReadOutcome::SendFailed:
            return {messageId, phase, Cause::SendFailed};
        case ReadOutcome::Duplicated:
            return {IDS_TRANSFER_ERROR, phase, SurplusCause(context)};
        case ReadOutcome::Refused:
            return {messageId, phase, Cause::DeviceStatus, result.status};
        case ReadOutcome::Failed:
            return {messageId, phase, Cause::BrokenReply, result.status};
        case ReadOutcome::Read:
        case ReadOutcome::Closing:
        case ReadOutcome::Unreadable:
            break;
    }
    return {messageId, phase, Cause::None};
}

int ReadDeviceMemory(const ProcedureEnv& env, std::uint32_t address, std::uint32_t length,
                     std::uint8_t* out) {
    const ReadResult result =
        ExchangeRead(env, address, length, kVersionFieldLength, env.timing.eraseReadWaitMs);
    if (result.outcome != ReadOutcome::Read) return -1;
    return env.context.CopyReadData(out, kVersionFieldLength) ? 0 : -1;
}

}  // namespace tq5::engine
