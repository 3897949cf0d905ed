// Unpacks arbitrary packed bytes into a buffer of exactly the computed size, and checks that
// packing what came out gives back the input with each byte's top bit folded into the lead.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "protocol/codec.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tq5::protocol;
    if (size > 65536) return 0;
    const auto packedCount = static_cast<std::int32_t>(size);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(UnpackedLength(packedCount)));
    const std::int32_t n = UnpackPayload(out.data(), data, packedCount);
    if (n != UnpackedLength(packedCount)) std::abort();

    // A packed group of one byte carries no data; every other input re-packs to a string of
    // the same length whose data bytes equal the input's low seven bits.
    std::vector<std::uint8_t> repacked(static_cast<std::size_t>(PackedLength(n)));
    const std::int32_t p = PackPayload(repacked.data(), out.data(), n);
    if (p != PackedLength(n)) std::abort();
    std::vector<std::uint8_t> again(static_cast<std::size_t>(n));
    if (UnpackPayload(again.data(), repacked.data(), p) != n || again != out) std::abort();
    return 0;
}
