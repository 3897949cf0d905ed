#include "engine/procedures/identify_device.hpp"

#include <algorithm>

#include "engine/procedures/exchange.hpp"
#include "engine/string_table.hpp"

namespace tq5::engine {

int IdentifyDevice(const ProcedureEnv& env) {
    UpdateContext& context = env.context;
    std::array<std::uint8_t, protocol::kIdentityRequestLength> request{};
    const std::size_t length = protocol::BuildIdentityRequest(request.data());
    if (!SendRequest(context, request.data(), length, Answer::Identity)) {
        // A window that is going away has closed its ports: that is no failure to report.
        if (context.IsClosing()) return -1;
        return ReportFailure(env.host, {IDS_CANT_OPEN_OUT, Phase::Identify, Cause::SendFailed});
    }

    const Waited waited = AwaitReply(context, env.timing.replyWaitMs);
    switch (waited.end) {
        case WaitEnd::TimedOut:
            return ReportFailure(env.host, {IDS_TIMEOUT_1, Phase::Identify, Cause::TimedOut});
        case WaitEnd::Closing:
            return -1;
        case WaitEnd::Surplus:
            return ReportFailure(env.host, SurplusFailure(context, Phase::Identify));
        case WaitEnd::Answered:
            break;
    }
    // A status reply in place of the identity reply: the reported id is not looked at.
    if (waited.reply.kind != ReplyKind::Identity) {
        return ReportFailure(env.host,
                             StatusFailure(IDS_ILLEGAL_DEVICE, Phase::Identify, waited.reply));
    }

    const DeviceId id = context.ReportedDeviceId();
    context.SetCurrentDeviceId(id);
    const bool accepted = std::find(kAcceptedDeviceIds.begin(), kAcceptedDeviceIds.end(), id) !=
                          kAcceptedDeviceIds.end();
    if (accepted) return 0;
    return ReportFailure(env.host, {IDS_ILLEGAL_DEVICE, Phase::Identify, Cause::IllegalDevice});
}

}  // namespace tq5::engine
