#pragma once
// What `--version` prints: the program's version and the versions of the firmware images
// built into it.

#include <string>
#include <string_view>

#include "engine/seams/firmware_images.hpp"

namespace tq5::firmware {

// The build's version, e.g. "1.0.0.0"; the same as Updater.exe's version record.
std::string_view ProgramVersion();

// "<program> <version>", then the system, preset and boot versions of `images`, then a note
// when they are generated placeholders. No newline at the end.
std::string ProgramVersionText(std::string_view program, const engine::FirmwareStore& images,
                               bool generatedImages);

// The same for the images built into this program.
std::string ProgramVersionText(std::string_view program);

}  // namespace tq5::firmware
