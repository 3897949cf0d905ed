#include "engine/procedures/version_check.hpp"

namespace tq5::engine {

int SanitizeVersion(VersionBuffer& text) {
    bool printable = true;
    for (std::size_t i = 0; i < 4; ++i) {
        // Judged as signed characters: every byte from 0x80 up is negative and fails.
        const auto c = static_cast<signed char>(text[i]);
        if (c < 0x20 || c > 0x7E) printable = false;
    }
    if (!printable) text = {'*', '.', '*', '*', '\0'};
    return 0;
}

}  // namespace tq5::engine
