#pragma once
// Reads a compiled extended dialog template (DLGTEMPLATEEX) back into plain values, so the
// tests can hold the resources of Updater.exe against the dialog layouts they must carry.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tq5::test {

struct DialogItem {
    std::uint32_t exStyle = 0;
    std::uint32_t style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::int32_t id = 0;
    std::string className;  // predefined classes by name: "Button", "Edit", "Static", ...
    std::string text;       // an ordinal (an icon's resource id) as "#128"
};

struct DialogTemplate {
    std::uint32_t exStyle = 0;
    std::uint32_t style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string title;
    int pointSize = 0;
    std::string typeface;
    std::vector<DialogItem> items;
};

// Nothing when the bytes are not a well-formed extended template.
std::optional<DialogTemplate> ReadDialogTemplate(const std::uint8_t* bytes, std::size_t size);

// The template of dialog resource `id` in this executable.
std::optional<DialogTemplate> LoadDialogTemplate(int id);

}  // namespace tq5::test
