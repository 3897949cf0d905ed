#include "sim/installed_firmware.hpp"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>

#include "firmware/embedded_firmware.hpp"
#include "protocol/codec.hpp"

namespace tq5::sim {
namespace {

using engine::ImageRegion;
using engine::VersionField;

void PutVersion(FlashMemory& flash, const VersionField& field, const std::string& text) {
    if (text.empty()) return;
    VersionBytes bytes;
    bytes.fill(' ');
    for (std::size_t i = 0; i < bytes.size() && i < text.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(text[i]);
    }
    [[maybe_unused]] const bool loaded =
        flash.Load(field.flashAddress, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    assert(loaded);  // the version fields lie inside the flash
}

VersionBytes ReadVersion(const FlashMemory& flash, const VersionField& field) {
    VersionBytes bytes{};
    [[maybe_unused]] const bool read =
        flash.Read(field.flashAddress, static_cast<std::uint32_t>(bytes.size()), bytes.data());
    assert(read);
    return bytes;
}

bool AllErased(const std::uint8_t* bytes, std::uint32_t n) {
    return std::all_of(bytes, bytes + n, [](std::uint8_t b) { return b == 0xFF; });
}

RegionState InspectRegion(const FlashMemory& flash, const ImageRegion& region,
                          const engine::FirmwareStore& images) {
    RegionState state;
    state.imageId = region.imageId;
    state.address = region.address;
    state.eraseSize = region.eraseSize;
    const std::uint8_t* start = flash.Data() + region.address;
    state.crc = protocol::ComputeCrc32(start, region.eraseSize);
    state.erased = AllErased(start, region.eraseSize);
    const auto image = images.Locate(region.imageId);
    if (image && image->data != nullptr && image->size <= region.eraseSize) {
        state.holdsImage = std::memcmp(start, image->data, image->size) == 0 &&
                           AllErased(start + image->size, region.eraseSize - image->size);
    }
    return state;
}

}  // namespace

void InstallFirmware(FlashMemory& flash, const InstalledFirmware& installed) {
    flash.EraseAll();
    if (installed.erased) return;
    const engine::FirmwareStore& images =
        installed.images != nullptr ? *installed.images : firmware::EmbeddedFirmware();
    for (const ImageRegion& region : engine::kImageRegions) {
        const auto image = images.Locate(region.imageId);
        if (!image || image->data == nullptr) continue;
        [[maybe_unused]] const bool loaded =
            flash.Load(region.address, image->data, std::min(image->size, region.eraseSize));
        assert(loaded);  // the regions lie inside the flash
    }
    PutVersion(flash, engine::kBootVersion, installed.bootVersion);
    PutVersion(flash, engine::kPresetVersion, installed.presetVersion);
    PutVersion(flash, engine::kSystemVersion, installed.systemVersion);
}

FlashState InspectFlash(const FlashMemory& flash, const engine::FirmwareStore& images) {
    FlashState state;
    state.bootVersion = ReadVersion(flash, engine::kBootVersion);
    state.presetVersion = ReadVersion(flash, engine::kPresetVersion);
    state.systemVersion = ReadVersion(flash, engine::kSystemVersion);
    for (std::size_t i = 0; i < engine::kImageRegions.size(); ++i) {
        state.regions[i] = InspectRegion(flash, engine::kImageRegions[i], images);
    }
    return state;
}

std::string VersionText(const VersionBytes& field) {
    const bool printable = std::all_of(field.begin(), field.end(),
                                       [](std::uint8_t b) { return b >= 0x20 && b < 0x7F; });
    if (printable) return std::string(field.begin(), field.end());
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X", field[0], field[1], field[2], field[3]);
    return text;
}

std::string FormatFlashState(const FlashState& state) {
    std::string out;
    out += "boot version:   " + VersionText(state.bootVersion) + "\n";
    out += "preset version: " + VersionText(state.presetVersion) + "\n";
    out += "system version: " + VersionText(state.systemVersion) + "\n";
    for (const RegionState& region : state.regions) {
        char line[128];
        const char* verdict = region.holdsImage ? "holds its image"
                              : region.erased   ? "erased"
                                                : "differs from its image";
        std::snprintf(line, sizeof line,
                      "region of image %d at 0x%06X, 0x%06X bytes: CRC 0x%08X, %s\n",
                      region.imageId, region.address, region.eraseSize, region.crc, verdict);
        out += line;
    }
    return out;
}

}  // namespace tq5::sim
