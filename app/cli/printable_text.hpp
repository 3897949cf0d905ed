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

#include <string>
#include <string_view>

namespace tq5::app::cli {

std::string PrintableText(std::string_view text);

}  // namespace tq5::app::cli
