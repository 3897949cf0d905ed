// The resources of Updater.exe, read back from a program that links them: the firmware
// images as BIN resources, the string table, the dialog templates, the icon, the version
// record and the manifest.

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "app/win32/resource.h"
#include "app/win32/resource_firmware_store.hpp"
#include "engine/seams/firmware_images.hpp"
#include "engine/string_table.hpp"
#include "firmware/embedded_firmware.hpp"
#include "win32/dialog_template_reader.hpp"

namespace tq5::test {
namespace {

// --- firmware images ---------------------------------------------------------------------

TEST(UpdaterResourcesTest, EachImageIsTheBuildsImageByteForByte) {
    const app::ResourceFirmwareStore resources;
    for (const int id : engine::kImageIds) {
        SCOPED_TRACE(id);
        const auto fromResource = resources.Locate(id);
        const auto built = firmware::EmbeddedFirmware().Locate(id);
        ASSERT_TRUE(fromResource.has_value());
        ASSERT_TRUE(built.has_value());
        ASSERT_EQ(fromResource->size, built->size);
        EXPECT_EQ(std::memcmp(fromResource->data, built->data, built->size), 0);
    }
}

TEST(UpdaterResourcesTest, SystemVersionReadsFromTheResourceImage) {
    const app::ResourceFirmwareStore resources;
    std::uint8_t field[4] = {};
    ASSERT_TRUE(engine::ReadImageBytes(resources, engine::kSystemVersion.imageId,
                                       engine::kSystemVersion.imageOffset, 4, field));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(field), 4), "1.10");
}

TEST(UpdaterResourcesTest, IdsOutsideTheSetFindNoImage) {
    const app::ResourceFirmwareStore resources;
    EXPECT_FALSE(resources.Locate(130).has_value());
    EXPECT_FALSE(resources.Locate(IDR_MAINFRAME).has_value()) << "an icon is not a BIN resource";
    std::uint8_t untouched[4] = {7, 7, 7, 7};
    EXPECT_FALSE(engine::ReadImageBytes(resources, 130, 0, 4, untouched));
    EXPECT_EQ(untouched[0], 7);
}

// --- string table ----------------------------------------------------------------------

TEST(UpdaterResourcesTest, StringTableHoldsTheEngineTextsExactly) {
    char buffer[512];
    for (const auto& entry : engine::kStringTable) {
        SCOPED_TRACE(entry.id);
        const int length = LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(entry.id),
                                       buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length)), entry.text);
    }
    EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 112, buffer, sizeof buffer), 0);
}

// --- dialog templates ------------------------------------------------------------------

struct ExpectedItem {
    std::int32_t id;
    const char* className;
    const char* text;
    int x, y, cx, cy;
    DWORD typeMask;  // the bits that choose the control's kind
    DWORD type;
    DWORD required;  // further style bits that must be set
};

std::string CharUpperString(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

void ExpectItems(const DialogTemplate& dialog, const std::vector<ExpectedItem>& expected) {
    ASSERT_EQ(dialog.items.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const DialogItem& got = dialog.items[i];
        const ExpectedItem& want = expected[i];
        SCOPED_TRACE("tab position " + std::to_string(i) + ", id " + std::to_string(want.id));
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(CharUpperString(got.className), CharUpperString(want.className))
            << "class names compare without case";
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ((std::vector<int>{got.x, got.y, got.cx, got.cy}),
                  (std::vector<int>{want.x, want.y, want.cx, want.cy}));
        EXPECT_EQ(got.style & want.typeMask, want.type);
        EXPECT_EQ(got.style & want.required, want.required);
        EXPECT_TRUE(got.style & WS_VISIBLE);
    }
}

constexpr DWORD kButton = BS_TYPEMASK;
constexpr DWORD kStatic = SS_TYPEMASK;
constexpr DWORD kCombo = 0x3;
constexpr DWORD kReadOnlyScrolling = ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP;

TEST(UpdaterResourcesTest, MainDialogTemplateHasTheLayoutOf103) {
    const auto dialog = LoadDialogTemplate(IDD_RK4UPDATOR_DIALOG);
    ASSERT_TRUE(dialog.has_value());
    EXPECT_EQ((std::vector<int>{dialog->cx, dialog->cy}), (std::vector<int>{239, 161}));
    EXPECT_EQ(dialog->title, "");
    EXPECT_EQ(dialog->typeface, "MS UI Gothic");
    EXPECT_EQ(dialog->pointSize, 9);
    const DWORD frame = WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE;
    EXPECT_EQ(dialog->style & frame, frame);
    EXPECT_EQ(dialog->style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
    EXPECT_TRUE(dialog->exStyle & WS_EX_APPWINDOW);

    ExpectItems(
        *dialog,
        {
            {1, "Button", "Execute", 119, 138, 50, 16, kButton, BS_DEFPUSHBUTTON, WS_TABSTOP},
            {2, "Button", "Exit", 182, 138, 50, 16, kButton, BS_PUSHBUTTON, WS_TABSTOP},
            {-1, "Static", "MIDI IN", 7, 7, 225, 8, kStatic, SS_LEFT, WS_GROUP},
            {-1, "Static", "MIDI OUT", 7, 37, 225, 8, kStatic, SS_LEFT, WS_GROUP},
            {1000, "ComboBox", "", 7, 15, 225, 115, kCombo | CBS_SORT, CBS_DROPDOWNLIST,
             WS_VSCROLL | WS_TABSTOP},
            {1001, "ComboBox", "", 7, 45, 225, 115, kCombo | CBS_SORT, CBS_DROPDOWNLIST,
             WS_VSCROLL | WS_TABSTOP},
            {1002, PROGRESS_CLASSA, "", 7, 107, 225, 14, 0, 0, WS_BORDER},
            {1003, "Edit", "", 12, 91, 220, 12, 0, 0, kReadOnlyScrolling},
            {1004, "Button", "Rescan Device", 145, 65, 87, 16, kButton, BS_DEFPUSHBUTTON,
             WS_TABSTOP},
            {1005, "Static", "", 7, 134, 20, 20, kStatic, SS_BITMAP, 0},
            {1006, "Edit", "", 12, 78, 29, 12, 0, 0, kReadOnlyScrolling},
            {1007, "Button", "Version Check", 26, 140, 62, 14, kButton, BS_PUSHBUTTON, WS_TABSTOP},
        });
}

TEST(UpdaterResourcesTest, SimplerLayout102IsKeptWithItsTitle) {
    const auto dialog = LoadDialogTemplate(IDD_SYSTEM_UPDATER);
    ASSERT_TRUE(dialog.has_value());
    EXPECT_EQ(dialog->title, "System Updater");
    std::vector<std::int32_t> ids;
    for (const auto& item : dialog->items) ids.push_back(item.id);
    EXPECT_EQ(ids, (std::vector<std::int32_t>{1, 2, -1, -1, 1000, 1001, 1002, 1003}));
}

TEST(UpdaterResourcesTest, AboutBoxTemplateHasTheLayoutOf100) {
    const auto dialog = LoadDialogTemplate(IDD_ABOUTBOX);
    ASSERT_TRUE(dialog.has_value());
    EXPECT_EQ((std::vector<int>{dialog->cx, dialog->cy}), (std::vector<int>{235, 60}));
    EXPECT_EQ(dialog->title, "About VARN TQ Series Updater");
    EXPECT_EQ(dialog->typeface, "MS UI Gothic");
    EXPECT_EQ(dialog->pointSize, 9);
    EXPECT_EQ(dialog->style & WS_VISIBLE, 0u) << "hidden until shown modally";
    const DWORD frame = WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    EXPECT_EQ(dialog->style & frame, frame);

    ExpectItems(
        *dialog,
        {
            {-1, "Static", "#128", 11, 17, 20, 20, kStatic, SS_ICON, 0},
            {1, "Button", "OK", 178, 6, 50, 16, kButton, BS_DEFPUSHBUTTON, WS_GROUP | WS_TABSTOP},
            {1003, "Edit", "", 39, 19, 134, 14, ES_AUTOHSCROLL, 0, ES_READONLY | WS_TABSTOP},
        });
}

// --- icon, version record, manifest ----------------------------------------------------

TEST(UpdaterResourcesTest, IconHas16And32And48PixelImages) {
    HRSRC info = FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_MAINFRAME),
                               MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    ASSERT_NE(info, nullptr);
    const auto* group = static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, info)));
    std::uint16_t count = 0;
    std::memcpy(&count, group + 4, 2);
    std::vector<int> sizes;
    for (std::uint16_t i = 0; i < count; ++i) sizes.push_back(group[6 + 14 * i]);
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48}));
    for (const int size : {16, 32, 48}) {
        EXPECT_NE(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                             size, size, 0),
                  nullptr);
    }
}

std::string VersionString(const std::vector<char>& info, const char* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), path.c_str(), &value, &length) || length == 0) return {};
    return std::string(static_cast<const char*>(value));
}

TEST(UpdaterResourcesTest, VersionRecordNamesTheUpdater) {
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));

    EXPECT_EQ(VersionString(info, "FileDescription"), "Updater");
    EXPECT_EQ(VersionString(info, "InternalName"), "Updater.exe");
    EXPECT_EQ(VersionString(info, "ProductName"), "VARN TQ Series");
    EXPECT_EQ(VersionString(info, "FileVersion"), "1.0.0.0");
    EXPECT_EQ(VersionString(info, "ProductVersion"), "1.0.0.0");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
}

TEST(UpdaterResourcesTest, ManifestRunsAsInvokerWithCommonControls6) {
    HRSRC info = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    ASSERT_NE(info, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(nullptr, info))),
                               SizeofResource(nullptr, info));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
}

}  // namespace
}  // namespace tq5::test
