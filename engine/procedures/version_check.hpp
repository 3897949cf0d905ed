#pragma once
// The version check: the device's and the images' system, preset and boot versions, shown
// side by side in one report.

#include <array>
#include <cstdint>
#include <string>

#include "engine/procedures/procedure_env.hpp"

namespace tq5::engine {

// A four-byte version field and its terminating zero.
using VersionBuffer = std::array<std::uint8_t, 5>;

// Leaves four printable characters (0x20..0x7E) as they are; anything else becomes "*.**".
void SanitizeVersion(VersionBuffer& text);
// A four-byte version field as text, sanitised as above.
std::string VersionText(const std::uint8_t* field);
// The version field of an image, as text; "missing" when the image does not hold it.
std::string ImageVersionText(const FirmwareStore& images, const VersionField& field);

// The worker, run on its own thread after OpenSelectedPorts, LockControls and a reset of the
// reply event. `ports` is the generation that OpenSelectedPorts opened for this check: the
// worker closes the ports at its end only while they are still that generation. Posts whether
// the versions were read through PostVersionCheckDone, except when the window is closing.
void VersionCheckThread(const ProcedureEnv& env, PortGeneration ports);

// The report's text from the six slots.
std::string VersionReportText(const VersionStrings& versions);
// Shows the report: caption "Version Information", information icon.
void ShowVersionReport(Host& host, const VersionStrings& versions);
// The engine half of the completion handler: the report when the versions were read, then in
// every case ReleaseControls.
void OnVersionCheckDone(Host& host, const VersionStrings& versions, bool versionsRead);

}  // namespace tq5::engine
