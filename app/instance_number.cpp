#include "app/instance_number.hpp"

#include "engine/string_table.hpp"
#include "engine/text_format.hpp"

namespace tq5::app {

std::string InstanceTitle(int instanceNumber) {
    if (instanceNumber <= 1) return std::string(engine::kAppTitle);
    return engine::FormatText(engine::kAppTitleNumbered, instanceNumber);
}

int ClaimInstanceNumber(NamedLocks& locks) {
    for (int n = 1; n <= kMaxInstances; ++n) {
        if (locks.TryTake(InstanceTitle(n))) return n;
    }
    return 0;
}

std::string TooManyInstancesText() {
    return engine::FormatText(engine::kTooManyInstances, kMaxInstances);
}

}  // namespace tq5::app
