#include "engine/procedures/exchange.hpp"
#include "engine/procedures/flash_steps.hpp"
#include "engine/string_table.hpp"

namespace tq5::engine {

Result EraseRegion(const ProcedureEnv& env, std::uint32_t address, std::uint32_t size) {
    UpdateContext& context = env.context;
    Host& host = env.host;
    host.SetProgressRange(10);
    std::uint8_t* request = context.WorkerSendBuffer();
    const std::size_t length = protocol::BuildEraseRequest(request, context.DeviceByte(),
                                                           static_cast<std::int32_t>(address),
                                                           static_cast<std::int32_t>(size));
    for (int attempt = 1;; ++attempt) {
        const bool sent = SendRequest(context, request, length, Answer::Status);
        host.SetProgressPos(1);
        host.SetStatusText(LoadText(IDS_ERASING));
        if (attempt == 1) ReportStep(env, Phase::Erase, 0, size);
        if (!sent) {
            if (context.IsClosing()) return Result::Closing();
            // A request that never left fails as one that was never answered, at once.
            return Result::Failed(FailureOf(IDS_TIMEOUT_3, Phase::Erase, Cause::SendFailed));
        }

        const Waited waited = AwaitReply(context, env.timing.eraseReadWaitMs);
        if (waited.end == WaitEnd::TimedOut) {  // never retried
            return Result::Failed(FailureOf(IDS_TIMEOUT_3, Phase::Erase, Cause::TimedOut));
        }
        if (waited.Succeeded()) {
            host.SetProgressPos(10);
            ReportStep(env, Phase::Erase, size, size);
            return Result::Ok();
        }
        if (waited.end == WaitEnd::Closing) return Result::Closing();
        if (waited.end == WaitEnd::Surplus) {
            return Result::Failed(SurplusFailure(context, Phase::Erase));
        }
        if (attempt == kMaxEraseAttempts) {
            return Result::Failed(StatusFailure(IDS_TRANSFER_ERROR, Phase::Erase, waited.reply));
        }
        Pause(env.context, env.timing.retryPauseMs);
    }
}

}  // namespace tq5::engine
