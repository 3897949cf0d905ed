#include "engine/exchange.hpp"
#include "engine/flash_steps.hpp"
#include "engine/string_table.hpp"

namespace tq5::engine {

int EraseRegion(const Procedures& env, std::uint32_t address, std::uint32_t size) {
    UpdateContext& context = env.context;
    Host& host = env.host;
    host.SetProgressRange(10);
    std::uint8_t* request = context.WorkerSendBuffer();
    const std::size_t length =
        protocol::BuildEraseRequest(request, context.DeviceByte(),
                                    static_cast<std::int32_t>(address),
                                    static_cast<std::int32_t>(size));
    for (int attempt = 1;; ++attempt) {
        SendRequest(context, request, length);  // a request that never leaves times out
        host.SetProgressPos(1);
        host.SetStatusText(LoadText(IDS_ERASING));

        const std::optional<std::int32_t> status =
            AwaitReply(context, env.timing.eraseReadWaitMs);
        if (!status) return ReportFailure(host, IDS_TIMEOUT_3);  // never retried
        if (*status == 0) {
            host.SetProgressPos(10);
            return 0;
        }
        if (*status == kStatusClosing) return -1;
        if (attempt == kMaxEraseAttempts) return ReportFailure(host, IDS_TRANSFER_ERROR);
        Pause(env.context, env.timing.retryPauseMs);
    }
}

}  // namespace tq5::engine
