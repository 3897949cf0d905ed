#include "engine/procedures/version_check.hpp"

#include <algorithm>

namespace tq5::engine {

void SanitizeVersion(VersionBuffer& text) {
    bool printable = true;
    for (std::size_t i = 0; i < 4; ++i) {
        // Judged as signed characters: every byte from 0x80 up is negative and fails.
        const auto c = static_cast<signed char>(text[i]);
        if (c < 0x20 || c > 0x7E) printable = false;
    }
    if (!printable) text = {'*', '.', '*', '*', '\0'};
}

std::string VersionText(const std::uint8_t* field) {
    VersionBuffer text{};
    std::copy(field, field + kVersionFieldLength, text.begin());
    SanitizeVersion(text);
    return reinterpret_cast<const char*>(text.data());
}

std::string ImageVersionText(const FirmwareStore& images, const VersionField& field) {
    VersionBuffer text{};
    if (!ReadImageBytes(images, field.imageId, field.imageOffset, kVersionFieldLength,
                        text.data())) {
        return "missing";
    }
    return VersionText(text.data());
}

}  // namespace tq5::engine
