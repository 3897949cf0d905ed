#pragma once
// printf-style formatting of the system's own formats ("%s (%d)", "%d/%d", ...). The formats
// are literals of the string table, so the arguments always match them.

#include <cstdio>
#include <string>
#include <string_view>

namespace tq5::engine {

template <typename... Args>
std::string FormatText(std::string_view format, Args... args) {
    // The formats are literals, so data() is zero-terminated.
    const int needed = std::snprintf(nullptr, 0, format.data(), args...);
    if (needed <= 0) return {};
    std::string out(static_cast<std::size_t>(needed) + 1, '\0');
    std::snprintf(out.data(), out.size(), format.data(), args...);
    out.resize(static_cast<std::size_t>(needed));
    return out;
}

}  // namespace tq5::engine
