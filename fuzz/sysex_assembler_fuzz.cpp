// Feeds arbitrary MIDI input through the reassembly every input driver uses, whole and cut
// into two pieces at a point taken from the input, and checks what comes out: blocks of at
// most the buffer size, no status byte inside (only a leading F0 and a closing F7), never a
// real-time byte, and the same blocks however the input was cut.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "midi/sysex_assembler.hpp"

namespace {

using Blocks = std::vector<std::vector<std::uint8_t>>;

Blocks Run(const std::uint8_t* data, std::size_t size, std::size_t cut) {
    Blocks blocks;
    tq5::midi::SysExAssembler assembler([&](const std::uint8_t* bytes, std::size_t length) {
        blocks.emplace_back(bytes, bytes + length);
    });
    assembler.Feed(data, cut);
    assembler.Feed(data + cut, size - cut);
    return blocks;
}

void Check(bool holds) {
    if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t cut = data[0] % size;
    const Blocks whole = Run(data + 1, size - 1, 0);
    Check(Run(data + 1, size - 1, cut == 0 ? 0 : cut - 1) == whole);

    bool continuing = false;  // the previous block was a full buffer without its F7
    for (const auto& block : whole) {
        Check(!block.empty() && block.size() <= tq5::midi::kInputBlockSize);
        // After a full buffer the message goes on (data, or its F7) or a new one begins.
        Check(block.front() == 0xF0 ||
              (continuing && (block.front() < 0x80 || block.front() == 0xF7)));
        for (std::size_t i = 1; i + 1 < block.size(); ++i) Check(block[i] < 0x80);
        const std::uint8_t last = block.back();
        Check(last < 0x80 || last == 0xF7 || (block.size() == 1 && last == 0xF0));
        continuing = last != 0xF7;
        if (continuing) Check(block.size() == tq5::midi::kInputBlockSize);
    }
    return 0;
}
