#include "firmware/embedded_firmware.hpp"

#include <cstdint>

#include "firmware/embedded_firmware_config.hpp"

// Defined by the generated embedded_images.cpp: each image's first byte and its size.
extern "C" {
extern const std::uint8_t tq5_firmware_129[];
extern const std::uint32_t tq5_firmware_129_size;
extern const std::uint8_t tq5_firmware_133[];
extern const std::uint32_t tq5_firmware_133_size;
extern const std::uint8_t tq5_firmware_136[];
extern const std::uint32_t tq5_firmware_136_size;
extern const std::uint8_t tq5_firmware_139[];
extern const std::uint32_t tq5_firmware_139_size;
extern const std::uint8_t tq5_firmware_142[];
extern const std::uint32_t tq5_firmware_142_size;
}

namespace tq5::firmware {
namespace {

using engine::FirmwareStore;
using engine::ImageRef;
using engine::ImageRegion;
using engine::VersionField;

// The build checks real images against limits it keeps in its own table; they must be the
// program's limits, or an image could pass the build and still not fit its region.
constexpr bool BuildLimitsMatch() {
    for (const ImageRegion& region : engine::kImageRegions) {
        bool found = false;
        for (const BuildImageLimit& limit : kBuildImageLimits) {
            if (limit.imageId != region.imageId) continue;
            found = limit.maxSize == region.eraseSize;
            std::uint32_t minSize = 1;
            for (const VersionField& field :
                 {engine::kBootVersion, engine::kPresetVersion, engine::kSystemVersion}) {
                if (field.imageId == region.imageId)
                    minSize = field.imageOffset + engine::kVersionFieldLength;
            }
            found = found && limit.minSize == minSize;
        }
        if (!found) return false;
    }
    return true;
}
static_assert(BuildLimitsMatch(),
              "firmware/CMakeLists.txt limits differ from engine::kImageRegions");

class EmbeddedStore final : public FirmwareStore {
public:
    std::optional<ImageRef> Locate(int imageId) const override {
        switch (imageId) {
            case engine::kImageMain:
                return ImageRef{tq5_firmware_129, tq5_firmware_129_size};
            case engine::kImagePreset:
                return ImageRef{tq5_firmware_133, tq5_firmware_133_size};
            case engine::kImageData:
                return ImageRef{tq5_firmware_136, tq5_firmware_136_size};
            case engine::kImageSystem:
                return ImageRef{tq5_firmware_139, tq5_firmware_139_size};
            case engine::kImageBoot:
                return ImageRef{tq5_firmware_142, tq5_firmware_142_size};
            default:
                return std::nullopt;
        }
    }
};

}  // namespace

const FirmwareStore& EmbeddedFirmware() {
    static const EmbeddedStore store;
    return store;
}

bool EmbeddedFirmwareIsGenerated() { return kFirmwareGenerated; }

}  // namespace tq5::firmware
