#include "sim/flash_memory.hpp"

#include <algorithm>
#include <cstring>

namespace tq5::sim {

FlashMemory::FlashMemory() : bytes_(kSize, 0xFF) {}

FlashMemory::Result FlashMemory::Erase(std::uint32_t address, std::uint32_t size) {
    if (!InRange(address, size) || address % kSectorSize != 0 || size % kSectorSize != 0) {
        return Result::BadRange;
    }
    std::fill_n(bytes_.begin() + address, size, std::uint8_t{0xFF});
    return Result::Ok;
}

FlashMemory::Result FlashMemory::Program(std::uint32_t address, const std::uint8_t* data,
                                         std::uint32_t n) {
    if (!InRange(address, n)) return Result::BadRange;
    const std::uint8_t* old = bytes_.data() + address;
    for (std::uint32_t i = 0; i < n; ++i) {
        if ((old[i] & data[i]) != data[i]) return Result::NotErased;
    }
    if (n > 0) std::memcpy(bytes_.data() + address, data, n);
    return Result::Ok;
}

bool FlashMemory::IsErased(std::uint32_t address, std::uint32_t n) const {
    if (!InRange(address, n)) return true;
    return std::all_of(bytes_.begin() + address, bytes_.begin() + address + n,
                       [](std::uint8_t b) { return b == 0xFF; });
}

bool FlashMemory::Read(std::uint32_t address, std::uint32_t n, std::uint8_t* out) const {
    if (!InRange(address, n)) return false;
    if (n > 0) std::memcpy(out, bytes_.data() + address, n);
    return true;
}

bool FlashMemory::Load(std::uint32_t address, const std::uint8_t* data, std::uint32_t n) {
    if (!InRange(address, n)) return false;
    if (n > 0) std::memcpy(bytes_.data() + address, data, n);
    return true;
}

void FlashMemory::EraseAll() { std::fill(bytes_.begin(), bytes_.end(), std::uint8_t{0xFF}); }

}  // namespace tq5::sim
