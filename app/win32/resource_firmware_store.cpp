#include "app/win32/resource_firmware_store.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace tq5::app {

std::optional<engine::ImageRef> ResourceFirmwareStore::Locate(int imageId) const {
    HRSRC info = FindResourceA(nullptr, MAKEINTRESOURCEA(imageId), "BIN");
    if (info == nullptr) return std::nullopt;
    HGLOBAL loaded = LoadResource(nullptr, info);
    if (loaded == nullptr) return std::nullopt;
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr) return std::nullopt;
    return engine::ImageRef{static_cast<const std::uint8_t*>(bytes), SizeofResource(nullptr, info)};
}

}  // namespace tq5::app
