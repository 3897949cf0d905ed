// The read-back check: every region the plan wrote is read back from the device and
// compared with its image, so that success is only ever reported over a flash that holds the
// images. Replies carry no reference to their request, so a difference is confirmed by a
// second read before it fails the update (a late reply to an earlier read may have come in
// place of this one's). A device that serves no read leaves the flash as the plan wrote it,
// every block acknowledged with its CRC checked: the update then ends as it ends without the
// check, and its outcome says the flash was not read back.

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "engine/procedures/exchange.hpp"
#include "engine/procedures/flash_reader.hpp"
#include "engine/procedures/flash_steps.hpp"
#include "engine/procedures/read_device_memory.hpp"
#include "engine/string_table.hpp"

namespace tq5::engine {
namespace {

// Compared and counted in pieces of a write block's size, whatever size the reads take.
constexpr std::uint32_t kVerifyChunkBytes = kLargestReadBytes;

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

Result VerifyFlash(const ProcedureEnv& env, bool bootRowsRan) {
    FlashReader ownReader;
    ProcedureEnv checkEnv = env;
    if (checkEnv.reader == nullptr) checkEnv.reader = &ownReader;
    FlashReader& reader = *checkEnv.reader;

    std::vector<Region> regions;
    std::int64_t total = 0;
    for (const FlashPlanRow& row : kFlashPlan) {
        if (row.type != FlashStepType::Write || (IsBootRow(row) && !bootRowsRan)) continue;
        const int imageId = static_cast<int>(row.resourceId);
        const std::optional<ImageRef> image = env.firmware.Locate(imageId);
        // The plan has written every one of them: a missing image has failed it already.
        if (!image || image->data == nullptr) {
            return Result::Failed(WithReadBack(
                checkEnv,
                FailureOf(IDS_TRANSFER_ERROR, Phase::Verify, Cause::MissingImage, 0, imageId)));
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
            for (int read = 0; read < 2; ++read) {
                const ReadResult result =
                    reader.Read(checkEnv, region.address + offset, length, chunk.data());
                if (result.outcome == ReadOutcome::Closing) return Result::Closing();
                if (result.outcome == ReadOutcome::Unreadable) return Result::Ok();
                if (result.outcome != ReadOutcome::Read) {
                    Failure failure =
                        ReadFailure(env.context, IDS_TRANSFER_ERROR, Phase::Verify, result);
                    failure.imageId = region.imageId;
                    failure.address = region.address + offset;
                    return Result::Failed(WithReadBack(checkEnv, failure));
                }
                differs = FirstDifference(chunk.data(), expected, length);
                if (differs == length) break;
            }
            if (differs != length) {
                return Result::Failed(WithReadBack(
                    checkEnv, FailureOf(IDS_TRANSFER_ERROR, Phase::Verify, Cause::Mismatch, 0,
                                        region.imageId, region.address + offset + differs)));
            }
            done += length;
            reader.NoteCompared(length);
            ReportStep(env, Phase::Verify, done, total);
        }
    }
    reader.MarkVerified();
    return Result::Ok();
}

}  // namespace tq5::engine
