#include <algorithm>
#include <array>
#include <chrono>
#include <limits>

#include "engine/procedures/exchange.hpp"
#include "engine/procedures/flash_reader.hpp"
#include "engine/procedures/flash_steps.hpp"
#include "engine/string_table.hpp"
#include "engine/text_format.hpp"

namespace tq5::engine {
namespace {

struct Verdict {
    Waited waited;
    int unanswered;  // sends of the block whose answers never came
};

// Replies carry no reference to the request they answer. When earlier sends of this block
// timed out, the reply just taken may be the late answer to one of them, with the answer to
// the latest send still on its way; taken for the next block, it would shift every later
// answer by one and could count a rejected block as written. So the verdict on the block
// waits, one block wait at a time, for as many further answers as sends went unanswered,
// and is the last answer heard. Quiet for a whole block wait means the rest were lost.
Verdict SettleVerdict(UpdateContext& context, std::uint32_t waitMs, Waited waited, int unanswered) {
    while (unanswered > 0 && waited.Answered()) {
        const Waited next = AwaitReply(context, waitMs);
        if (next.end == WaitEnd::TimedOut) break;
        waited = next;
        --unanswered;
    }
    return {waited, unanswered};
}

enum class BlockOnFlash { Written, NotKnown, Closing, Duplicated };

// A device that will not write over a written block refuses the resend of a block that it
// wrote when only its answer was lost. Reading the block back tells.
BlockOnFlash ReadBlockBack(const ProcedureEnv& env, std::uint32_t address, const std::uint8_t* data,
                           std::uint32_t length) {
    std::array<std::uint8_t, protocol::kMaxBlockBytes> flash{};
    const ReadResult result = env.reader->Read(env, address, length, flash.data());
    switch (result.outcome) {
        case ReadOutcome::Read:
            return std::equal(data, data + length, flash.data()) ? BlockOnFlash::Written
                                                                 : BlockOnFlash::NotKnown;
        case ReadOutcome::Closing:
            return BlockOnFlash::Closing;
        case ReadOutcome::Duplicated:
            return BlockOnFlash::Duplicated;
        default:
            return BlockOnFlash::NotKnown;
    }
}

}  // namespace

Result WriteImage(const ProcedureEnv& env, std::uint32_t address, std::uint32_t size,
                  std::uint32_t resourceId) {
    UpdateContext& context = env.context;
    Host& host = env.host;
    const int imageId = static_cast<int>(resourceId);
    const std::optional<ImageRef> image = env.firmware.Locate(imageId);
    const Failure missing =
        FailureOf(IDS_TRANSFER_ERROR, Phase::Write, Cause::MissingImage, 0, imageId);
    // A missing image, or a row asking for more than the image holds, sends nothing.
    if (!image || image->data == nullptr) return Result::Failed(missing);
    const std::uint32_t byteCount = size != 0 ? size : image->size;
    if (byteCount > image->size ||
        byteCount > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
        return Result::Failed(missing);
    }
    const auto total = static_cast<std::int32_t>(byteCount);

    host.SetProgressRange(total);
    ReportStep(env, Phase::Write, 0, total);
    std::int32_t offset = 0;
    std::int32_t blockLength = protocol::kMaxBlockBytes;
    int failures = 0;         // consecutive, time-outs, failed sends and error statuses alike
    int unanswered = 0;       // sends of this block that timed out
    bool answerLost = false;  // a send of this block was never answered
    bool readBack = false;    // this block has been read back
    std::uint8_t* request = context.WorkerSendBuffer();
    for (;;) {
        if (offset + blockLength > total) blockLength = total - offset;
        const std::size_t length = protocol::BuildWriteBlockRequest(
            request, context.DeviceByte(), image->data + offset,
            static_cast<std::int32_t>(address) + offset, blockLength);
        const bool sent = SendRequest(context, request, length, Answer::Status);
        const auto sentAt = std::chrono::steady_clock::now();
        host.SetStatusText(FormatText(LoadText(IDS_DATA_TRANSMIT), static_cast<int>(offset),
                                      static_cast<int>(total)));
        if (!sent && context.IsClosing()) return Result::Closing();

        // A request that never left counts as a failed attempt with no answer to wait for.
        Waited waited;
        if (sent) waited = AwaitReply(context, env.timing.blockWaitMs);
        if (waited.end != WaitEnd::TimedOut && unanswered > 0) {
            const Verdict verdict =
                SettleVerdict(context, env.timing.blockWaitMs, waited, unanswered);
            waited = verdict.waited;
            // Answers still missing after a quiet block wait are given up: one that comes
            // later still counts as surplus rather than as some later block's answer.
            context.ForgoStatusReplies(verdict.unanswered);
        } else if (waited.Succeeded() && failures == 0) {
            context.NoteAnswerTime(MsSince(sentAt));
        }
        if (waited.end == WaitEnd::TimedOut) {
            if (failures + 1 >= kMaxBlockAttempts) {
                return Result::Failed(FailureOf(IDS_TIMEOUT_2, Phase::Write,
                                                sent ? Cause::TimedOut : Cause::SendFailed, 0,
                                                imageId));
            }
            ++failures;
            if (sent) {
                ++unanswered;
                answerLost = true;
            }
            Pause(env.context, env.timing.retryPauseMs);
            if (unanswered == 0) continue;
            // An answer that came during the pause is a late one to a send of this block (the
            // resend clears the signal, so it would go unheard). When it answers the only
            // send outstanding and acknowledges it, the block is written: no resend, and no
            // block wait for an answer that will not come. Otherwise it leaves one send fewer
            // unanswered, and the block goes again.
            waited = AwaitReply(context, 0);
            if (waited.end == WaitEnd::TimedOut) continue;
            if (waited.Answered()) {
                --unanswered;
                if (!waited.Succeeded() || unanswered > 0) continue;
            }
        }
        if (waited.end == WaitEnd::Closing) return Result::Closing();
        unanswered = 0;
        if (waited.Answered() && !waited.Succeeded() && answerLost && !readBack &&
            env.reader != nullptr) {
            readBack = true;
            const BlockOnFlash onFlash =
                ReadBlockBack(env, address + static_cast<std::uint32_t>(offset),
                              image->data + offset, static_cast<std::uint32_t>(blockLength));
            if (onFlash == BlockOnFlash::Closing) return Result::Closing();
            if (onFlash == BlockOnFlash::Duplicated) waited = {WaitEnd::Surplus};
            if (onFlash == BlockOnFlash::Written) {
                env.reader->NoteBlockFoundWritten();
                waited = {WaitEnd::Answered, {ReplyKind::Status, protocol::kStatusOk}};
            }
        }
        if (waited.end == WaitEnd::Surplus) {
            Failure failure = SurplusFailure(context, Phase::Write);
            failure.imageId = imageId;
            return Result::Failed(WithReadBack(env, failure));
        }
        if (waited.Succeeded()) {
            answerLost = false;
            readBack = false;
            failures = 0;
            offset += blockLength;
            host.SetProgressPos(offset);
            ReportStep(env, Phase::Write, offset, total);
            if (offset >= total) return Result::Ok();
            continue;
        }
        if (failures + 1 >= kMaxBlockAttempts) {
            Failure failure = StatusFailure(IDS_TRANSFER_ERROR, Phase::Write, waited.reply);
            failure.imageId = imageId;
            return Result::Failed(WithReadBack(env, failure));
        }
        ++failures;
        Pause(env.context, env.timing.retryPauseMs);
    }
}

}  // namespace tq5::engine
