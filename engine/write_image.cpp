#include <limits>

#include "engine/exchange.hpp"
#include "engine/flash_steps.hpp"
#include "engine/string_table.hpp"

namespace tq5::engine {
namespace {

// Replies carry no reference to the request they answer. When earlier sends of this block
// timed out, the reply just taken may be the late answer to one of them, with the answer to
// the latest send still on its way; taken for the next block, it would shift every later
// answer by one and could count a rejected block as written. So the verdict on the block
// waits, one block wait at a time, for as many further answers as sends went unanswered,
// and is the last answer heard. Quiet for a whole block wait means the rest were lost.
std::int32_t SettleVerdict(UpdateContext& context, std::uint32_t waitMs, std::int32_t status,
                           int unanswered) {
    while (unanswered > 0 && status != kStatusClosing) {
        const std::optional<std::int32_t> next = AwaitReply(context, waitMs);
        if (!next) break;
        status = *next;
        --unanswered;
    }
    return status;
}

}  // namespace

int WriteImage(const Procedures& env, std::uint32_t address, std::uint32_t size,
               std::uint32_t resourceId) {
    UpdateContext& context = env.context;
    Host& host = env.host;
    const std::optional<ImageRef> image = env.firmware.Locate(static_cast<int>(resourceId));
    // A missing image, or a row asking for more than the image holds, sends nothing.
    if (!image || image->data == nullptr) return ReportFailure(host, IDS_TRANSFER_ERROR);
    const std::uint32_t byteCount = size != 0 ? size : image->size;
    if (byteCount > image->size ||
        byteCount > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
        return ReportFailure(host, IDS_TRANSFER_ERROR);
    }
    const auto total = static_cast<std::int32_t>(byteCount);

    host.SetProgressRange(total);
    std::int32_t offset = 0;
    std::int32_t blockLength = kBlockBytes;
    int failures = 0;    // consecutive, time-outs and error statuses alike
    int unanswered = 0;  // sends of this block that timed out
    std::uint8_t* request = context.WorkerSendBuffer();
    for (;;) {
        if (offset + blockLength > total) blockLength = total - offset;
        const std::size_t length = protocol::BuildWriteBlockRequest(
            request, context.DeviceByte(), image->data + offset,
            static_cast<std::int32_t>(address) + offset, blockLength);
        SendRequest(context, request, length);  // a request that never leaves times out
        host.SetStatusText(FormatNumbers(LoadText(IDS_DATA_TRANSMIT), offset, total));

        std::optional<std::int32_t> status = AwaitReply(context, env.timing.blockWaitMs);
        if (status && unanswered > 0) {
            status = SettleVerdict(context, env.timing.blockWaitMs, *status, unanswered);
        }
        if (!status) {
            if (failures + 1 >= kMaxBlockAttempts) return ReportFailure(host, IDS_TIMEOUT_2);
            ++failures;
            ++unanswered;
            Pause(env.context, env.timing.retryPauseMs);
            // An answer that came during the pause is a late one to a send of this block (the
            // resend clears the signal, so it would go unheard). When it answers the only
            // send outstanding and acknowledges it, the block is written: no resend, and no
            // block wait for an answer that will not come. Otherwise it leaves one send fewer
            // unanswered, and the block goes again.
            status = AwaitReply(context, 0);
            if (!status) continue;
            if (*status == kStatusClosing) return -1;
            --unanswered;
            if (*status != 0 || unanswered > 0) continue;
        }
        unanswered = 0;
        if (*status == 0) {
            failures = 0;
            offset += blockLength;
            host.SetProgressPos(offset);
            if (offset >= total) return 0;
            continue;
        }
        if (*status == kStatusClosing) return -1;
        if (failures + 1 >= kMaxBlockAttempts) return ReportFailure(host, IDS_TRANSFER_ERROR);
        ++failures;
        Pause(env.context, env.timing.retryPauseMs);
    }
}

}  // namespace tq5::engine
