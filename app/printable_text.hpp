#pragma once
// Text from outside the program made safe to print on a terminal. MIDI port names are chosen
// by whatever client registers the port, and a name that carries escape sequences could move
// the cursor, recolour or rewrite the screen, or hide its own ending. Such characters, bytes
// that are not UTF-8 and the backslash itself are printed as escapes, so that two different
// names never print alike:
//   control characters and invalid bytes   \x1B, \xFF
//   C1 controls, bidirectional and line     \u009B, \u202E, \u2028
//   separator characters
//   the backslash                           \\ (two of them)
// The same text is safe on one line of a report, and the same decoding of UTF-8 serves the
// strings of tq5-updater's JSON lines.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tq5::app {

std::string PrintableText(std::string_view text);

// The length of the well-formed UTF-8 sequence at `text[at]` (a byte below 0x80 included) and
// its code point, or 0 when the bytes there are not one (a stray continuation byte, a cut
// sequence, an overlong form, a surrogate, a value past U+10FFFF).
std::size_t DecodeUtf8(std::string_view text, std::size_t at, std::uint32_t& code);

}  // namespace tq5::app
