#include "engine/procedures/identify_device.hpp"

#include <algorithm>

#include "engine/procedures/exchange.hpp"
#include "engine/string_table.hpp"

namespace tq5::engine {

Result IdentifyDevice(const ProcedureEnv& env) {
    UpdateContext& context = env.context;
    std::array<std::uint8_t, protocol::kIdentityRequestLength> request{};
    const std::size_t length = protocol::BuildIdentityRequest(request.data());
    if (!SendRequest(context, request.data(), length, Answer::Identity)) {
        // A window that is going away has closed its ports: that is no failure to report.
        if (context.IsClosing()) return Result::Closing();
        return Result::Failed(FailureOf(IDS_CANT_OPEN_OUT, Phase::Identify, Cause::SendFailed));
    }

    const Waited waited = AwaitReply(context, env.timing.replyWaitMs);
    switch (waited.end) {
        case WaitEnd::TimedOut:
            return Result::Failed(FailureOf(IDS_TIMEOUT_1, Phase::Identify, Cause::TimedOut));
        case WaitEnd::Closing:
            return Result::Closing();
        case WaitEnd::Surplus:
            return Result::Failed(SurplusFailure(context, Phase::Identify));
        case WaitEnd::Answered:
            break;
    }
    // A status reply in place of the identity reply: the reported id is not looked at.
    if (waited.reply.kind != ReplyKind::Identity) {
        return Result::Failed(StatusFailure(IDS_ILLEGAL_DEVICE, Phase::Identify, waited.reply));
    }

    const DeviceId id = context.ReportedDeviceId();
    context.SetCurrentDeviceId(id);
    const bool accepted = std::find(kAcceptedDeviceIds.begin(), kAcceptedDeviceIds.end(), id) !=
                          kAcceptedDeviceIds.end();
    if (accepted) return Result::Ok();
    return Result::Failed(FailureOf(IDS_ILLEGAL_DEVICE, Phase::Identify, Cause::IllegalDevice));
}

}  // namespace tq5::engine
