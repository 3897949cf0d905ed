#pragma once
// What the virtual TQ-5's flash holds before an update, and a report of what it holds now.

#include <array>
#include <cstdint>
#include <string>

#include "engine/seams/firmware_images.hpp"
#include "sim/flash_memory.hpp"

namespace tq5::sim {

struct InstalledFirmware {
    bool erased = false;  // nothing installed: the whole flash reads 0xFF
    // The images installed at their flash addresses; null takes the ones built into this
    // program. Only read while installing.
    const engine::FirmwareStore* images = nullptr;
    // Version fields written over the images' own (the first four characters, padded with
    // blanks); empty keeps the image's. The system field defaults to an older version than
    // the carried image's, so that a version check shows a difference.
    std::string bootVersion;
    std::string presetVersion;
    std::string systemVersion = "1.05";
};

// Erases the flash and installs `installed` on it. An image larger than its region is cut
// at the region's end.
void InstallFirmware(FlashMemory& flash, const InstalledFirmware& installed);

using VersionBytes = std::array<std::uint8_t, engine::kVersionFieldLength>;

struct RegionState {
    int imageId = 0;
    std::uint32_t address = 0;
    std::uint32_t eraseSize = 0;
    std::uint32_t crc = 0;    // ComputeCrc32 over the whole region
    bool holdsImage = false;  // the image at the region's start, the rest erased
    bool erased = false;      // the whole region reads 0xFF
};

struct FlashState {
    VersionBytes bootVersion{};
    VersionBytes presetVersion{};
    VersionBytes systemVersion{};
    std::array<RegionState, engine::kImageRegions.size()> regions{};
};

// Compares the flash with `images` (a missing image never matches).
FlashState InspectFlash(const FlashMemory& flash, const engine::FirmwareStore& images);

// The report tq5-devsim prints: one line per version field, one per region.
std::string FormatFlashState(const FlashState& state);

// "1.10" for printable fields, the hex bytes ("FF FF FF FF") otherwise.
std::string VersionText(const VersionBytes& field);

}  // namespace tq5::sim
