#pragma once
// The updater's user-visible texts, by string-table id. One table for the engine, the
// dialog, the command line and the Windows resources.

#include <string_view>

namespace tq5::engine {

enum StringId : int {
    IDS_ABOUTBOX = 101,
    IDS_TIMEOUT_1 = 102,
    IDS_TIMEOUT_2 = 103,
    IDS_TIMEOUT_3 = 104,
    IDS_ILLEGAL_DEVICE = 105,
    IDS_USE_UPDATE_MODE = 106,
    IDS_TRANSFER_ERROR = 107,
    IDS_UPDATE_COMPLETED = 108,
    IDS_IN_PROGRESS = 109,
    IDS_CANT_OPEN_IN = 110,
    IDS_ERROR_CAPTION = 111,
    IDS_CANT_OPEN_OUT = 113,
    IDS_ERASING = 114,
    IDS_DATA_TRANSMIT = 115,
};

struct StringEntry {
    int id;
    std::string_view text;
};

inline constexpr StringEntry kStringTable[] = {
    {IDS_ABOUTBOX, "About VARN TQ Series Updater(&A)..."},
    {IDS_TIMEOUT_1, "Time out error(1)"},
    {IDS_TIMEOUT_2, "Time out error(2)"},
    {IDS_TIMEOUT_3, "Time out error(3)"},
    {IDS_ILLEGAL_DEVICE, "Illegal device connected."},
    {IDS_USE_UPDATE_MODE, "Please use the firmware update mode."},
    {IDS_TRANSFER_ERROR, "Transfer error occurred."},
    {IDS_UPDATE_COMPLETED, "Version update completed."},
    {IDS_IN_PROGRESS, "In Progress."},
    {IDS_CANT_OPEN_IN, "Can't open MIDI In device."},
    {IDS_ERROR_CAPTION, "Error"},
    {IDS_CANT_OPEN_OUT, "Can't open MIDI Out device."},
    {IDS_ERASING, "Erasing Flash memory."},
    {IDS_DATA_TRANSMIT, "Data transmit  %d / %d "},
};

// The text of a string id; empty for an id the table does not hold.
constexpr std::string_view LoadText(int id) {
    for (const auto& entry : kStringTable) {
        if (entry.id == id) return entry.text;
    }
    return {};
}

// Literals that are not in the string table.
inline constexpr std::string_view kAppTitle = "VARN TQ-5 System v1.10 Updater";
inline constexpr std::string_view kAppTitleNumbered = "VARN TQ-5 System v1.10 Updater (%d)";
inline constexpr std::string_view kVersionReportCaption = "Version Information";
inline constexpr std::string_view kAboutCaption = "About VARN TQ Series Updater";
inline constexpr std::string_view kTooManyInstances =
    "It is forbidden to launch more than %d instance of this application.";

}  // namespace tq5::engine
