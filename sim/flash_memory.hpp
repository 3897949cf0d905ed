#pragma once
// The TQ-5's 4 MiB NOR flash: erased state 0xFF, erased in 4 KiB sectors, programmed by
// clearing bits only. Every operation checks its range; nothing is ever written outside.

#include <cstdint>
#include <vector>

#include "engine/seams/firmware_images.hpp"

namespace tq5::sim {

class FlashMemory {
public:
    static constexpr std::uint32_t kSize = engine::kFlashSize;
    static constexpr std::uint32_t kSectorSize = 4096;

    enum class Result { Ok, BadRange, NotErased };

    FlashMemory();  // all erased

    // Sets [address, address + size) to 0xFF. Both must be multiples of the sector size and
    // the range must lie inside the flash; size 0 erases nothing.
    Result Erase(std::uint32_t address, std::uint32_t size);

    // Programs n bytes. NOR flash only clears bits: a byte whose new value would need a bit
    // set that is clear now (old & new != new) fails the whole write, which then changes
    // nothing. Writing the same data twice therefore succeeds, as it does on the chip.
    Result Program(std::uint32_t address, const std::uint8_t* data, std::uint32_t n);

    // True when every byte of the range is erased (0xFF); a range that leaves the flash is
    // not this question's: true, and the write that follows fails on its range.
    bool IsErased(std::uint32_t address, std::uint32_t n) const;

    // Copies n bytes out; false, copying nothing, when the range leaves the flash.
    [[nodiscard]] bool Read(std::uint32_t address, std::uint32_t n, std::uint8_t* out) const;

    // Factory access: stores bytes as they are, whatever the flash held. False, storing
    // nothing, when the range leaves the flash.
    [[nodiscard]] bool Load(std::uint32_t address, const std::uint8_t* data, std::uint32_t n);
    void EraseAll();

    // The whole flash, kSize bytes, for inspection.
    const std::uint8_t* Data() const { return bytes_.data(); }

    static bool InRange(std::uint32_t address, std::uint32_t n) {
        return address <= kSize && n <= kSize - address;
    }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace tq5::sim
