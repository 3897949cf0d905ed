#pragma once
// The five firmware images built into this program: the generated placeholders, or the real
// images the build was pointed at (TQ5_FIRMWARE_DIR).

#include "engine/seams/firmware_images.hpp"

namespace tq5::firmware {

// Read-only; lives as long as the program and may be used from any thread.
const engine::FirmwareStore& EmbeddedFirmware();

// True when the build generated placeholder images instead of taking real ones.
bool EmbeddedFirmwareIsGenerated();

}  // namespace tq5::firmware
