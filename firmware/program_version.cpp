#include "firmware/program_version.hpp"

#include <program_version.h>

#include "engine/procedures/version_check.hpp"
#include "firmware/embedded_firmware.hpp"

namespace tq5::firmware {
namespace {

// The image's version field as text. A field that is not four printable characters reads
// "*.**", as a device's field does in the version check, so no raw byte reaches a terminal.
std::string ImageVersionText(const engine::FirmwareStore& images,
                             const engine::VersionField& field) {
    engine::VersionBuffer text{};
    if (engine::ReadImageBytes(images, field.imageId, field.imageOffset,
                               engine::kVersionFieldLength, text.data()) != 0) {
        return "missing";
    }
    engine::SanitizeVersion(text);
    return reinterpret_cast<const char*>(text.data());
}

}  // namespace

std::string_view ProgramVersion() { return TQ5_VERSION_TEXT; }

std::string ProgramVersionText(std::string_view program, const engine::FirmwareStore& images,
                               bool generatedImages) {
    std::string text = std::string(program) + " " + std::string(ProgramVersion()) + "\n";
    text += "Firmware images: system " + ImageVersionText(images, engine::kSystemVersion) +
            ", preset " + ImageVersionText(images, engine::kPresetVersion) + ", boot " +
            ImageVersionText(images, engine::kBootVersion);
    if (generatedImages) {
        text += "\nThe images are generated placeholders, not released TQ-5 firmware.";
    }
    return text;
}

std::string ProgramVersionText(std::string_view program) {
    return ProgramVersionText(program, EmbeddedFirmware(), EmbeddedFirmwareIsGenerated());
}

}  // namespace tq5::firmware
