#pragma once
// Test helpers for byte strings written the way the protocol tables write them.

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace tq5::test {

using Bytes = std::vector<std::uint8_t>;

// "F0 7E 00 06 01 F7" -> bytes.
inline Bytes Hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string token;
    while (in >> token) out.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
    return out;
}

}  // namespace tq5::test
