#include "engine/update_worker.hpp"

#include "engine/exchange.hpp"
#include "engine/flash_steps.hpp"
#include "engine/identify_device.hpp"
#include "engine/string_table.hpp"

namespace tq5::engine {
namespace {

// Asks the device into its flash-writing mode. 0, or -1 once reported (or closing).
int EnterUpdateMode(const Procedures& env) {
    UpdateContext& context = env.context;
    Host& host = env.host;
    std::uint8_t* request = context.WorkerSendBuffer();
    // The send's result is not examined: a request that never leaves shows as a time-out.
    SendRequest(context, request,
                protocol::BuildEnterUpdateRequest(request, context.DeviceByte()));
    host.SetStatusText(LoadText(IDS_ERASING));
    const std::optional<std::int32_t> status = AwaitReply(context, env.timing.replyWaitMs);
    if (status == kStatusClosing) return -1;  // before the status line is touched
    if (!status) return ReportFailure(host, IDS_TIMEOUT_1);
    host.SetStatusText("");
    if (*status == protocol::kStatusNotInUpdateMode) {
        return ReportFailure(host, IDS_USE_UPDATE_MODE);
    }
    if (*status != 0) return ReportFailure(host, IDS_TRANSFER_ERROR);
    return 0;
}

// Tells the device the update is finished. Any answer but the closing status completes it.
int Finish(const Procedures& env) {
    UpdateContext& context = env.context;
    std::uint8_t* request = context.WorkerSendBuffer();
    SendRequest(context, request, protocol::BuildFinishRequest(request, context.DeviceByte()));
    const std::optional<std::int32_t> status = AwaitReply(context, env.timing.replyWaitMs);
    if (!status) return ReportFailure(env.host, IDS_TRANSFER_ERROR);
    return *status == kStatusClosing ? -1 : 0;
}

int RunUpdate(const Procedures& env) {
    Host& host = env.host;
    host.SetCounterText(FormatNumbers("0/%d", static_cast<std::int64_t>(kFlashPlan.size())));
    if (IdentifyDevice(env) != 0) return -1;
    // From now on the updater's own identity reply names the accepted device.
    env.context.IdentityReply().SetDeviceId(env.context.CurrentDeviceId());
    if (EnterUpdateMode(env) != 0) return -1;
    Pause(env.context, env.timing.enterPauseMs);
    if (RunFlashPlan(env) != 0) return -1;
    if (Finish(env) != 0) return -1;
    host.SetStatusText(LoadText(IDS_UPDATE_COMPLETED));
    host.ReleaseControls();
    // Execute and Version Check stay off until the user rescans the devices.
    host.EnableActions(false);
    return 0;
}

}  // namespace

int UpdateWorker(const Procedures& env) {
    RunUpdate(env);
    return 0;
}

}  // namespace tq5::engine
