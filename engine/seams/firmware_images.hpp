#pragma once
// The five firmware images the updater carries, the flash plan that writes them, and the
// version fields read out of them. The images are opaque byte blocks to the updater.

#include <array>
#include <cstdint>
#include <optional>

namespace tq5::engine {

// Read-only view of one image; lives as long as the store.
struct ImageRef {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
};

// Image id -> bytes. Windows: BIN resources; Linux: embedded at build time; tests: memory.
class FirmwareStore {
public:
    virtual ~FirmwareStore() = default;
    virtual std::optional<ImageRef> Locate(int imageId) const = 0;
};

inline constexpr int kImageMain = 129;
inline constexpr int kImagePreset = 133;
inline constexpr int kImageData = 136;
inline constexpr int kImageSystem = 139;
inline constexpr int kImageBoot = 142;
inline constexpr std::array<int, 5> kImageIds = {kImageMain, kImagePreset, kImageData, kImageSystem,
                                                 kImageBoot};

inline constexpr std::uint32_t kFlashSize = 4u * 1024u * 1024u;
inline constexpr std::uint32_t kVersionFieldLength = 4;

// A version field: where it lies in its image and in the device's flash.
struct VersionField {
    int imageId;
    std::uint32_t imageOffset;
    std::uint32_t flashAddress;
};
inline constexpr VersionField kBootVersion{kImageBoot, 204796, 204796};
inline constexpr VersionField kPresetVersion{kImagePreset, 4092, 208892};
inline constexpr VersionField kSystemVersion{kImageSystem, 4064, 864224};

// Copies `length` bytes at `offset` of image `imageId` to `out`; false, with nothing
// written, when the image is missing or the read would run past its end.
[[nodiscard]] bool ReadImageBytes(const FirmwareStore& store, int imageId, std::uint32_t offset,
                                  std::uint32_t length, std::uint8_t* out);

enum class FlashStepType : std::uint32_t { Erase = 1, Write = 2 };

struct FlashPlanRow {
    FlashStepType type;
    std::uint32_t address;
    std::uint32_t size;        // Erase: bytes to erase. Write: bytes to write, 0 = whole image
    std::uint32_t resourceId;  // Write: image id. Erase: 0
};

// Rows run in this order. The system block (0xD2000) is erased first and written last, so
// until the update has finished the device's system version reads as erased flash.
inline constexpr std::array<FlashPlanRow, 10> kFlashPlan = {{
    {FlashStepType::Erase, 0xD2000, 0x1000, 0},
    {FlashStepType::Erase, 0x32000, 0x1000, 0},
    {FlashStepType::Write, 0x32000, 0, kImagePreset},
    {FlashStepType::Erase, 0x00000, 0x32000, 0},
    {FlashStepType::Write, 0x00000, 0, kImageBoot},
    {FlashStepType::Erase, 0x33000, 0x9F000, 0},
    {FlashStepType::Write, 0x33000, 0, kImageMain},
    {FlashStepType::Erase, 0xDB000, 0x325000, 0},
    {FlashStepType::Write, 0xDB000, 0, kImageData},
    {FlashStepType::Write, 0xD2000, 0, kImageSystem},
}};

// A row is a boot row when it starts at address 0; those are skipped when the device's boot
// version already equals the boot image's.
constexpr bool IsBootRow(const FlashPlanRow& row) { return row.address == 0; }

// The erase region that belongs to each image (its flash address and the bytes erased).
struct ImageRegion {
    int imageId;
    std::uint32_t address;
    std::uint32_t eraseSize;
    std::uint32_t shippedSize;
};
inline constexpr std::array<ImageRegion, 5> kImageRegions = {{
    {kImageBoot, 0x00000, 0x32000, 204800},
    {kImagePreset, 0x32000, 0x1000, 4096},
    {kImageMain, 0x33000, 0x9F000, 283088},
    {kImageSystem, 0xD2000, 0x1000, 4096},
    {kImageData, 0xDB000, 0x325000, 3297280},
}};

}  // namespace tq5::engine
