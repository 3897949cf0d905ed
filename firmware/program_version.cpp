#include "firmware/program_version.hpp"

#include <program_version.h>

#include "engine/procedures/version_check.hpp"
#include "firmware/embedded_firmware.hpp"

namespace tq5::firmware {

std::string_view ProgramVersion() { return TQ5_VERSION_TEXT; }

std::string ProgramVersionText(std::string_view program, const engine::FirmwareStore& images,
                               bool generatedImages) {
    std::string text = std::string(program) + " " + std::string(ProgramVersion()) + "\n";
    text += "Firmware images: system " + engine::ImageVersionText(images, engine::kSystemVersion) +
            ", preset " + engine::ImageVersionText(images, engine::kPresetVersion) + ", boot " +
            engine::ImageVersionText(images, engine::kBootVersion);
    if (generatedImages) {
        text += "\nThe images are generated placeholders, not released TQ-5 firmware.";
    }
    return text;
}

std::string ProgramVersionText(std::string_view program) {
    return ProgramVersionText(program, EmbeddedFirmware(), EmbeddedFirmwareIsGenerated());
}

}  // namespace tq5::firmware
