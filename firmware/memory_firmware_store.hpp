#pragma once
// A firmware store whose images live in memory: for tests that need other images (another
// version, a missing image, a short one) and for the virtual device's installed firmware.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "engine/seams/firmware_images.hpp"

namespace tq5::firmware {

class MemoryFirmwareStore final : public engine::FirmwareStore {
public:
    MemoryFirmwareStore() = default;

    // Copies every image of `source` that it holds under the five ids.
    static MemoryFirmwareStore CopyOf(const engine::FirmwareStore& source);

    // Adds or replaces an image. References handed out earlier for that id become invalid.
    void Set(int imageId, std::vector<std::uint8_t> bytes);
    void Remove(int imageId);

    // Overwrites bytes inside an existing image (e.g. a version field). False, changing
    // nothing, when the image is missing or the bytes would run past its end.
    [[nodiscard]] bool Overwrite(int imageId, std::uint32_t offset, const std::uint8_t* bytes,
                                 std::uint32_t length);

    // Valid until the image is set, removed or the store is destroyed. Not thread-safe
    // against concurrent changes: fill the store first, then share it.
    std::optional<engine::ImageRef> Locate(int imageId) const override;

private:
    std::map<int, std::vector<std::uint8_t>> images_;
};

}  // namespace tq5::firmware
