#include "engine/procedures/identify_device.hpp"

#include <algorithm>

#include "engine/procedures/exchange.hpp"
#include "engine/string_table.hpp"

namespace tq5::engine {

int IdentifyDevice(const ProcedureEnv& env) {
    UpdateContext& context = env.context;
    std::array<std::uint8_t, protocol::kIdentityRequestLength> request{};
    const std::size_t length = protocol::BuildIdentityRequest(request.data());
    if (!SendRequest(context, request.data(), length, Answer::Other)) {
        // A window that is going away has closed its ports: that is no failure to report.
        if (context.IsClosing()) return -1;
        return ReportFailure(env.host, {IDS_CANT_OPEN_OUT, Phase::Identify, Cause::SendFailed});
    }

    const std::optional<std::int32_t> status = AwaitReply(context, env.timing.replyWaitMs);
    if (!status) return ReportFailure(env.host, {IDS_TIMEOUT_1, Phase::Identify, Cause::TimedOut});
    if (*status == kStatusClosing) return -1;
    if (*status != 0) {
        return ReportFailure(
            env.host, FailureFromStatus(context, IDS_ILLEGAL_DEVICE, Phase::Identify, *status));
    }

    const DeviceId id = context.ReportedDeviceId();
    context.SetCurrentDeviceId(id);
    const bool accepted = std::find(kAcceptedDeviceIds.begin(), kAcceptedDeviceIds.end(), id) !=
                          kAcceptedDeviceIds.end();
    if (accepted) return 0;
    return ReportFailure(env.host, {IDS_ILLEGAL_DEVICE, Phase::Identify, Cause::IllegalDevice});
}

}  // namespace tq5::engine
