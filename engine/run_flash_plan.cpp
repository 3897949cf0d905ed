#include <algorithm>
#include <array>

#include "engine/exchange.hpp"
#include "engine/flash_steps.hpp"
#include "engine/read_device_memory.hpp"
#include "engine/string_table.hpp"

namespace tq5::engine {
namespace {

enum class BootCheck { RunBootRows, SkipBootRows, Failed };

// Reads the device's boot version once and compares it with the boot image's field.
BootCheck CheckBootVersion(const Procedures& env) {
    std::array<std::uint8_t, kVersionFieldLength> imageField{};
    // Without the boot image there is nothing to compare with: nothing is sent.
    if (ReadImageBytes(env.firmware, kBootVersion.imageId, kBootVersion.imageOffset,
                       kVersionFieldLength, imageField.data()) != 0) {
        ReportFailure(env.host, IDS_TRANSFER_ERROR);
        return BootCheck::Failed;
    }
    std::array<std::uint8_t, kVersionFieldLength> deviceField{};
    switch (ExchangeRead(env, kBootVersion.flashAddress, kVersionFieldLength,
                         deviceField.data())) {
        case ReadOutcome::Read:
            return deviceField == imageField ? BootCheck::SkipBootRows : BootCheck::RunBootRows;
        case ReadOutcome::Closing:
            return BootCheck::Failed;
        case ReadOutcome::TimedOut:
        case ReadOutcome::Failed:
            break;
    }
    env.host.ReleaseControls();  // this failure has no message of its own
    return BootCheck::Failed;
}

}  // namespace

int RunFlashPlan(const Procedures& env) {
    bool runBootRows = true;
    if (std::any_of(kFlashPlan.begin(), kFlashPlan.end(), IsBootRow)) {
        const BootCheck check = CheckBootVersion(env);
        if (check == BootCheck::Failed) return -1;
        runBootRows = check == BootCheck::RunBootRows;
    }

    const auto rowCount = static_cast<std::int64_t>(kFlashPlan.size());
    for (std::size_t i = 0; i < kFlashPlan.size(); ++i) {
        const FlashPlanRow& row = kFlashPlan[i];
        env.host.SetCounterText(FormatNumbers("%d/%d", static_cast<std::int64_t>(i + 1), rowCount));
        if (IsBootRow(row) && !runBootRows) continue;
        int result = 0;
        if (row.type == FlashStepType::Erase) {
            result = EraseRegion(env, row.address, row.size);
        } else if (row.type == FlashStepType::Write) {
            result = WriteImage(env, row.address, row.size, row.resourceId);
        }
        if (result != 0) return -1;
    }
    return 0;
}

}  // namespace tq5::engine
