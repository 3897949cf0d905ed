#pragma once
// The firmware images as resources of type "BIN" in the executable, under their image ids.
// Resources are mapped with the module and stay valid for the life of the process.

#include <optional>

#include "engine/seams/firmware_images.hpp"

namespace tq5::app {

class ResourceFirmwareStore final : public engine::FirmwareStore {
public:
    // FindResourceA (no module handle: the executable itself), LoadResource, LockResource,
    // SizeofResource. Nothing when the executable holds no such image.
    std::optional<engine::ImageRef> Locate(int imageId) const override;
};

}  // namespace tq5::app
