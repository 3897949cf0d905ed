#include <algorithm>
#include <array>

#include "engine/procedures/exchange.hpp"
#include "engine/procedures/flash_steps.hpp"
#include "engine/procedures/read_device_memory.hpp"
#include "engine/string_table.hpp"
#include "engine/text_format.hpp"

namespace tq5::engine {
namespace {

// Reads the device's boot version once and compares it with the boot image's field: Ok, with
// `runBootRows` false when they are equal.
Result CheckBootVersion(const ProcedureEnv& env, bool& runBootRows) {
    std::array<std::uint8_t, kVersionFieldLength> imageField{};
    // Without the boot image there is nothing to compare with: nothing is sent.
    if (!ReadImageBytes(env.firmware, kBootVersion.imageId, kBootVersion.imageOffset,
                        kVersionFieldLength, imageField.data())) {
        return Result::Failed(FailureOf(IDS_TRANSFER_ERROR, Phase::BootVersion, Cause::MissingImage,
                                        0, kBootVersion.imageId));
    }
    ReportStep(env, Phase::BootVersion, 0, kVersionFieldLength);
    const ReadResult result = ExchangeRead(env, kBootVersion.flashAddress, kVersionFieldLength,
                                           kVersionFieldLength, env.timing.eraseReadWaitMs);
    std::array<std::uint8_t, kVersionFieldLength> deviceField{};
    if (result.outcome == ReadOutcome::Read &&
        env.context.CopyReadData(deviceField.data(), deviceField.size())) {
        env.context.Log().NoteDeviceVersion(VersionSlot::Boot, deviceField.data());
        runBootRows = deviceField != imageField;
        return Result::Ok();
    }
    if (result.outcome == ReadOutcome::Closing) return Result::Closing();
    // This failure has no message of its own (a surplus reply has: the link duplicates).
    return Result::Failed(ReadFailure(env.context, 0, Phase::BootVersion, result));
}

std::int64_t RowBytes(const ProcedureEnv& env, const FlashPlanRow& row) {
    if (row.type == FlashStepType::Erase || row.size != 0) return row.size;
    const auto image = env.firmware.Locate(static_cast<int>(row.resourceId));
    return image ? image->size : 0;
}

}  // namespace

Result RunFlashPlan(const ProcedureEnv& env, bool* bootRowsRan) {
    bool runBootRows = true;
    if (std::any_of(kFlashPlan.begin(), kFlashPlan.end(), IsBootRow)) {
        if (Result checked = CheckBootVersion(env, runBootRows); !checked.IsOk()) return checked;
    }
    if (bootRowsRan != nullptr) *bootRowsRan = runBootRows;

    // The steps report their progress under the row they run for.
    int rowNumber = 0;
    ProcedureEnv rowEnv = env;
    rowEnv.planRow = &rowNumber;
    const auto rowCount = static_cast<int>(kFlashPlan.size());
    for (std::size_t i = 0; i < kFlashPlan.size(); ++i) {
        const FlashPlanRow& row = kFlashPlan[i];
        rowNumber = static_cast<int>(i + 1);
        env.host.SetCounterText(FormatText("%d/%d", rowNumber, rowCount));
        const Phase phase = row.type == FlashStepType::Erase ? Phase::Erase : Phase::Write;
        if (IsBootRow(row) && !runBootRows) {
            ReportStep(rowEnv, phase, 0, RowBytes(env, row), true);
            continue;
        }
        Result result = Result::Ok();
        if (row.type == FlashStepType::Erase) {
            result = EraseRegion(rowEnv, row.address, row.size);
        } else if (row.type == FlashStepType::Write) {
            result = WriteImage(rowEnv, row.address, row.size, row.resourceId);
        }
        if (!result.IsOk()) return result;
    }
    return Result::Ok();
}

}  // namespace tq5::engine
