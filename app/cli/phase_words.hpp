#pragma once
// What tq5-updater calls each step of a procedure in its log and its failure lines.

#include <string_view>

#include "engine/outcome.hpp"

namespace tq5::app::cli {

constexpr std::string_view Doing(engine::Phase phase) {
    switch (phase) {
        case engine::Phase::Identify:
            return "identifying the TQ-5";
        case engine::Phase::EnterUpdate:
            return "asking the TQ-5 into its update mode";
        case engine::Phase::BootVersion:
            return "reading the TQ-5's boot loader version";
        case engine::Phase::Erase:
            return "erasing";
        case engine::Phase::Write:
            return "writing";
        case engine::Phase::Verify:
            return "reading the flash back and comparing it";
        case engine::Phase::Finish:
            return "telling the TQ-5 that the update is finished";
        case engine::Phase::Versions:
            return "reading the TQ-5's versions";
    }
    return {};
}

}  // namespace tq5::app::cli
