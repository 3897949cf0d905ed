#include "engine/procedures/update_worker.hpp"

#include <algorithm>

#include "engine/procedures/exchange.hpp"
#include "engine/procedures/flash_reader.hpp"
#include "engine/procedures/flash_steps.hpp"
#include "engine/procedures/identify_device.hpp"
#include "engine/string_table.hpp"
#include "engine/text_format.hpp"

namespace tq5::engine {
namespace {

// Asks the device into its flash-writing mode.
Result EnterUpdateMode(const ProcedureEnv& env) {
    UpdateContext& context = env.context;
    Host& host = env.host;
    ReportStep(env, Phase::EnterUpdate, 0, 0);
    // From the first status request on, every status reply is counted against its request.
    context.StartReplyLedger();
    std::uint8_t* request = context.WorkerSendBuffer();
    const bool sent = SendRequest(context, request,
                                  protocol::BuildEnterUpdateRequest(request, context.DeviceByte()),
                                  Answer::Status);
    if (!sent && context.IsClosing()) return Result::Closing();
    host.SetStatusText(LoadText(IDS_ERASING));
    // A request that never left fails as one that was never answered, without the wait.
    const Waited waited = sent ? AwaitReply(context, env.timing.replyWaitMs) : Waited{};
    // Closing: before the status line is touched.
    if (waited.end == WaitEnd::Closing) return Result::Closing();
    if (waited.end == WaitEnd::TimedOut) {
        return Result::Failed(FailureOf(IDS_TIMEOUT_1, Phase::EnterUpdate,
                                        sent ? Cause::TimedOut : Cause::SendFailed));
    }
    host.SetStatusText("");
    if (waited.end == WaitEnd::Surplus) {
        return Result::Failed(SurplusFailure(context, Phase::EnterUpdate));
    }
    if (waited.reply.kind == ReplyKind::Status &&
        waited.reply.status == protocol::kStatusNotInUpdateMode) {
        return Result::Failed(FailureOf(IDS_USE_UPDATE_MODE, Phase::EnterUpdate,
                                        Cause::NotInUpdateMode, waited.reply.status));
    }
    if (!waited.Succeeded()) {
        return Result::Failed(StatusFailure(IDS_TRANSFER_ERROR, Phase::EnterUpdate, waited.reply));
    }
    return Result::Ok();
}

// Tells the device the update is finished. Any answer completes it; a completion notice the
// device sent on its own after the last block counts as that answer.
// Then the link is watched a little longer: a reply that came twice earlier on shifted every
// answer by one, and the finish request's own answer would now come as a surplus reply.
Result Finish(const ProcedureEnv& env) {
    UpdateContext& context = env.context;
    ReportStep(env, Phase::Finish, 0, 0);
    std::uint8_t* request = context.WorkerSendBuffer();
    const bool sent =
        SendRequest(context, request, protocol::BuildFinishRequest(request, context.DeviceByte()),
                    Answer::Status);
    if (!sent) {
        if (context.IsClosing()) return Result::Closing();
        return Result::Failed(FailureOf(IDS_TRANSFER_ERROR, Phase::Finish, Cause::SendFailed));
    }
    Waited waited;
    if (context.TakeUnaskedCompletion()) {
        waited = AwaitReply(context, 0);  // only for a closing window or a surplus reply
        if (waited.end == WaitEnd::TimedOut) waited = {WaitEnd::Answered, {ReplyKind::Completion}};
    } else {
        waited = AwaitReply(context, env.timing.replyWaitMs);
    }
    if (waited.end == WaitEnd::TimedOut)
        return Result::Failed(FailureOf(IDS_TRANSFER_ERROR, Phase::Finish, Cause::TimedOut));
    if (waited.end == WaitEnd::Closing) return Result::Closing();

    const std::uint32_t settleMs =
        std::clamp(4 * context.LongestAnswerMs(), env.timing.settleMinMs,
                   std::max(env.timing.settleMinMs, env.timing.blockWaitMs));
    if (waited.end != WaitEnd::Surplus) Pause(context, settleMs);
    if (context.IsClosing()) return Result::Closing();
    if (waited.end == WaitEnd::Surplus || context.SurplusReplies() > 0) {
        return Result::Failed(SurplusFailure(context, Phase::Finish));
    }
    return Result::Ok();
}

Result RunUpdate(const ProcedureEnv& env) {
    // Replies are counted from the first status request on; identification counts nothing.
    env.context.CloseReplyLedger();
    env.host.SetCounterText(FormatText("0/%d", static_cast<int>(kFlashPlan.size())));
    ReportStep(env, Phase::Identify, 0, 0);
    if (Result identified = IdentifyDevice(env); !identified.IsOk()) return identified;
    // From now on the updater's own identity reply names the accepted device.
    env.context.IdentityReply().SetDeviceId(env.context.CurrentDeviceId());
    if (Result entered = EnterUpdateMode(env); !entered.IsOk()) return entered;
    Pause(env.context, env.timing.enterPauseMs);
    bool bootRowsRan = true;
    if (Result written = RunFlashPlan(env, &bootRowsRan); !written.IsOk()) return written;
    if (env.verifyFlash) {
        if (Result verified = VerifyFlash(env, bootRowsRan); !verified.IsOk()) return verified;
    }
    return Finish(env);
}

}  // namespace

void UpdateWorker(const ProcedureEnv& updateEnv) {
    // The read-back check's reader lives for the whole update: a read size found while
    // writing is kept for the check at the end.
    FlashReader reader;
    ProcedureEnv env = updateEnv;
    if (env.verifyFlash) env.reader = &reader;
    Host& host = env.host;
    const Result result = RunUpdate(env);
    // A window that is going away hears nothing more.
    if (result.IsClosing()) return;
    if (result.IsFailed()) {
        ReportFailure(host, result.GetFailure());
        return;
    }
    Outcome completed;
    completed.completed = true;
    if (env.verifyFlash) completed.readBack = reader.Summary();
    completed.verified = completed.readBack.result == ReadBackResult::Verified;
    completed.messageId = IDS_UPDATE_COMPLETED;
    completed.phase = Phase::Finish;
    host.ReportOutcome(completed);
    host.SetStatusText(LoadText(IDS_UPDATE_COMPLETED));
    host.ReleaseControls();
    // Execute and Version Check stay off until the user rescans the devices.
    host.EnableActions(false);
}

}  // namespace tq5::engine
