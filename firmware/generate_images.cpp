// Writes the five placeholder firmware images (<id>.bin) into the folder given as the only
// argument. The content is deterministic pseudo-random bytes (so every build, on every host,
// carries the same images), with the three version fields set where the updater reads them.
// Real images replace these through the TQ5_FIRMWARE_DIR build option.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/seams/firmware_images.hpp"

namespace {

using tq5::engine::ImageRegion;
using tq5::engine::VersionField;

// splitmix64: tiny, fast, and the same sequence on every platform.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

private:
    std::uint64_t state_;
};

// Uniform bytes have bit 7 set half the time, which is what exercises the 7-in-8 packing;
// each image gets its own sequence so that a block sent to the wrong place shows up.
std::vector<std::uint8_t> MakeContent(const ImageRegion& region) {
    std::vector<std::uint8_t> bytes(region.shippedSize);
    SplitMix64 random(0x7135000000000000ull + static_cast<std::uint64_t>(region.imageId));
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        std::uint64_t word = random.Next();
        for (std::size_t j = 0; j < 8 && i + j < bytes.size(); ++j, word >>= 8) {
            bytes[i + j] = static_cast<std::uint8_t>(word & 0xFFu);
        }
    }
    return bytes;
}

void PutVersion(std::vector<std::uint8_t>& bytes, const VersionField& field, const char* text) {
    for (std::uint32_t i = 0; i < tq5::engine::kVersionFieldLength; ++i) {
        bytes.at(field.imageOffset + i) = static_cast<std::uint8_t>(text[i]);
    }
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    for (const ImageRegion& region : tq5::engine::kImageRegions) {
        std::vector<std::uint8_t> bytes = MakeContent(region);
        if (region.imageId == tq5::engine::kBootVersion.imageId) {
            PutVersion(bytes, tq5::engine::kBootVersion, "1.00");
        } else if (region.imageId == tq5::engine::kPresetVersion.imageId) {
            PutVersion(bytes, tq5::engine::kPresetVersion, "1.00");
        } else if (region.imageId == tq5::engine::kSystemVersion.imageId) {
            PutVersion(bytes, tq5::engine::kSystemVersion, "1.10");
        }
        const std::string path = folder + "/" + std::to_string(region.imageId) + ".bin";
        if (!WriteFile(path, bytes)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
