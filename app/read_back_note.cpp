#include "app/read_back_note.hpp"

#include "engine/procedures/flash_reader.hpp"

namespace tq5::app {
namespace {

std::string HowReadsFailed(const engine::ReadBack& readBack) {
    const std::string sizes =
        "reads of " + std::to_string(engine::kSmallestReadBytes) + " bytes and more";
    switch (readBack.unreadable) {
        case engine::Cause::DeviceStatus:
            return "it refused " + sizes + " (status " + std::to_string(readBack.status) + ")";
        case engine::Cause::TimedOut:
            return "it did not answer " + sizes;
        default:
            return "its answers to " + sizes + " failed their checks";
    }
}

}  // namespace

std::string ReadBackNote(const engine::ReadBack& readBack) {
    if (readBack.result != engine::ReadBackResult::Unreadable) return {};
    return "The TQ-5's flash could not be read back on this device: " + HowReadsFailed(readBack) +
           ". The TQ-5 checked and acknowledged every block written to it, but its flash "
           "was not compared with the images.";
}

}  // namespace tq5::app
