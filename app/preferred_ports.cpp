#include "app/preferred_ports.hpp"

#include <algorithm>

#include "engine/text_format.hpp"

namespace tq5::app {

std::array<std::string, 3> PreferredPortNames(int instanceNumber) {
    std::array<std::string, 3> names;
    const char* bases[] = {kUsbAudioDeviceJapanese, kUsbAudioDevice, kVarnTqSeries};
    for (std::size_t i = 0; i < names.size(); ++i) {
        names[i] = instanceNumber == 1 ? engine::FormatText("%s", bases[i])
                                       : engine::FormatText("%s (%d)", bases[i], instanceNumber);
    }
    return names;
}

std::int32_t FindPreferredPort(const std::vector<std::string>& entries, int instanceNumber) {
    const auto names = PreferredPortNames(instanceNumber);
    std::int32_t selected = -1;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (std::find(names.begin(), names.end(), entries[i]) != names.end()) {
            selected = static_cast<std::int32_t>(i);
        }
    }
    return selected;
}

}  // namespace tq5::app
