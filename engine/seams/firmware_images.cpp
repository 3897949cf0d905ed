#include "engine/seams/firmware_images.hpp"

#include <cstring>

namespace tq5::engine {

bool ReadImageBytes(const FirmwareStore& store, int imageId, std::uint32_t offset,
                    std::uint32_t length, std::uint8_t* out) {
    const std::optional<ImageRef> image = store.Locate(imageId);
    if (!image || image->data == nullptr) return false;
    // Compared without overflow: offset + length may not fit in 32 bits.
    if (offset > image->size || length > image->size - offset) return false;
    std::memcpy(out, image->data + offset, length);
    return true;
}

}  // namespace tq5::engine
