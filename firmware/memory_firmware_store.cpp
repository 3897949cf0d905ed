#include "firmware/memory_firmware_store.hpp"

#include <cstring>

namespace tq5::firmware {

MemoryFirmwareStore MemoryFirmwareStore::CopyOf(const engine::FirmwareStore& source) {
    MemoryFirmwareStore copy;
    for (int id : engine::kImageIds) {
        if (const std::optional<engine::ImageRef> image = source.Locate(id); image && image->data) {
            copy.Set(id, std::vector<std::uint8_t>(image->data, image->data + image->size));
        }
    }
    return copy;
}

void MemoryFirmwareStore::Set(int imageId, std::vector<std::uint8_t> bytes) {
    images_[imageId] = std::move(bytes);
}

void MemoryFirmwareStore::Remove(int imageId) { images_.erase(imageId); }

bool MemoryFirmwareStore::Overwrite(int imageId, std::uint32_t offset, const std::uint8_t* bytes,
                                    std::uint32_t length) {
    const auto it = images_.find(imageId);
    if (it == images_.end()) return false;
    const std::size_t size = it->second.size();
    if (offset > size || length > size - offset) return false;
    if (length > 0) std::memcpy(it->second.data() + offset, bytes, length);
    return true;
}

std::optional<engine::ImageRef> MemoryFirmwareStore::Locate(int imageId) const {
    const auto it = images_.find(imageId);
    if (it == images_.end()) return std::nullopt;
    return engine::ImageRef{it->second.data(), static_cast<std::uint32_t>(it->second.size())};
}

}  // namespace tq5::firmware
