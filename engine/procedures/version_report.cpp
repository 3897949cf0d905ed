#include "engine/procedures/version_check.hpp"
#include "engine/string_table.hpp"

namespace tq5::engine {
namespace {

// "\n<label>\t\t<device>", then " -> <image>" when the image text is there and differs.
std::string ComparedLine(const VersionStrings& versions, const char* label, VersionSlot slot) {
    const std::string device = versions.Get(VersionSource::Device, slot);
    const std::string image = versions.Get(VersionSource::Image, slot);
    std::string line = std::string("\n") + label + ":\t\t" + device;
    if (!image.empty() && image != device) line += " -> " + image;
    return line;
}

}  // namespace

std::string VersionReportText(const VersionStrings& versions) {
    // The SYSTEM line always carries the arrow, even when the texts agree or the image's is
    // empty.
    std::string text = "SYSTEM:\t\t" + versions.Get(VersionSource::Device, VersionSlot::System) +
                       " -> " + versions.Get(VersionSource::Image, VersionSlot::System);
    text += ComparedLine(versions, "PRESET", VersionSlot::Preset);
    text += ComparedLine(versions, "BOOT", VersionSlot::Boot);
    return text;
}

void ShowVersionReport(Host& host, const VersionStrings& versions) {
    host.ShowMessageBox(VersionReportText(versions), kVersionReportCaption,
                        MessageIcon::Information);
}

void OnVersionCheckDone(Host& host, const VersionStrings& versions, bool versionsRead) {
    if (versionsRead) ShowVersionReport(host, versions);
    host.ReleaseControls();
}

}  // namespace tq5::engine
