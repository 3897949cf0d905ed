// The read-back check: every region the plan wrote is read back from the device in chunks
// and compared with its image, so that success is only ever reported over a flash that holds
// the images. Replies carry no reference to their request, so a chunk's data is trusted
// only once every earlier send of it has had its answer or been given up, and a difference
// is confirmed by a second read before it fails the update.

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "engine/procedures/exchange.hpp"
#include "engine/procedures/flash_steps.hpp"
#include "engine/procedures/read_device_memory.hpp"
#include "engine/string_table.hpp"

namespace tq5::engine {
namespace {

// A chunk's reply (4,096 data bytes, 4,700 bytes in all) is the size of a write block: it
// fits one received message on every MIDI system the updater runs on.
constexpr std::uint32_t kVerifyChunkBytes = 4096;
// Sends of one chunk's read that may fail (no answer, a broken reply) before the check does.
constexpr int kMaxReadAttempts = 8;

// Reads one chunk into the start of the read buffer, sending the request again after a
// lost or broken reply. Before it returns Read, the late answers to earlier sends of the
// chunk are waited for (one wait each): taken for the next chunk's, they would be compared
// with the wrong bytes.
ReadResult ReadChunk(const ProcedureEnv& env, std::uint32_t address, std::uint32_t length) {
    UpdateContext& context = env.context;
    int unanswered = 0;
    for (int attempt = 1;; ++attempt) {
        const ReadResult result =
            ExchangeRead(env, address, length, length, env.timing.verifyReadWaitMs);
        switch (result.outcome) {
            case ReadOutcome::Read:
                for (; unanswered > 0; --unanswered) {
                    const std::optional<std::int32_t> late =
                        AwaitReply(context, env.timing.verifyReadWaitMs);
                    if (!late) break;  // the rest were lost
                    if (*late == kStatusClosing) return {ReadOutcome::Closing};
                    if (*late == kStatusDuplicated) return {ReadOutcome::Duplicated};
                }
                return result;
            case ReadOutcome::Closing:
            case ReadOutcome::Duplicated:
                return result;
            case ReadOutcome::TimedOut:
                ++unanswered;
                break;
            case ReadOutcome::SendFailed:
            case ReadOutcome::Failed:
                break;
        }
        if (attempt == kMaxReadAttempts) return result;
        Pause(context, env.timing.retryPauseMs);
    }
}

// Offset of the first byte that differs, or `length` when none does.
std::uint32_t FirstDifference(const std::uint8_t* read, const std::uint8_t* image,
                              std::uint32_t length) {
    return static_cast<std::uint32_t>(std::mismatch(read, read + length, image).first - read);
}

struct Region {
    int imageId;
    std::uint32_t address;
    const std::uint8_t* bytes;
    std::uint32_t size;
};

}  // namespace

int VerifyFlash(const ProcedureEnv& env, bool bootRowsRan) {
    std::vector<Region> regions;
    std::int64_t total = 0;
    for (const FlashPlanRow& row : kFlashPlan) {
        if (row.type != FlashStepType::Write || (IsBootRow(row) && !bootRowsRan)) continue;
        const int imageId = static_cast<int>(row.resourceId);
        const std::optional<ImageRef> image = env.firmware.Locate(imageId);
        // The plan has written every one of them: a missing image has failed it already.
        if (!image || image->data == nullptr) {
            return ReportFailure(
                env.host, {IDS_TRANSFER_ERROR, Phase::Verify, Cause::MissingImage, 0, imageId});
        }
        const std::uint32_t size = row.size != 0 ? std::min(row.size, image->size) : image->size;
        regions.push_back({imageId, row.address, image->data, size});
        total += size;
    }

    std::array<std::uint8_t, kVerifyChunkBytes> chunk{};
    std::int64_t done = 0;
    ReportStep(env, Phase::Verify, done, total);
    for (const Region& region : regions) {
        for (std::uint32_t offset = 0; offset < region.size; offset += kVerifyChunkBytes) {
            const std::uint32_t length = std::min(kVerifyChunkBytes, region.size - offset);
            const std::uint8_t* expected = region.bytes + offset;
            std::uint32_t differs = length;
            // A difference is read a second time before it counts: a reply of an earlier
            // read given up as lost may have come in place of this one's.
            for (int read = 0; read < 2; ++read) {
                const ReadResult result = ReadChunk(env, region.address + offset, length);
                if (result.outcome == ReadOutcome::Closing) return -1;
                if (result.outcome != ReadOutcome::Read ||
                    !env.context.CopyReadData(chunk.data(), length)) {
                    Failure failure = ReadFailure(IDS_TRANSFER_ERROR, Phase::Verify, result);
                    failure.imageId = region.imageId;
                    failure.address = region.address + offset;
                    return ReportFailure(env.host, failure);
                }
                differs = FirstDifference(chunk.data(), expected, length);
                if (differs == length) break;
            }
            if (differs != length) {
                return ReportFailure(env.host,
                                     {IDS_TRANSFER_ERROR, Phase::Verify, Cause::Mismatch, 0,
                                      region.imageId, region.address + offset + differs});
            }
            done += length;
            ReportStep(env, Phase::Verify, done, total);
        }
    }
    return 0;
}

}  // namespace tq5::engine
