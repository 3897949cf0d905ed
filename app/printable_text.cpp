#include "app/printable_text.hpp"

#include <cstdint>
#include <cstdio>

namespace tq5::app {
namespace {

void AppendByteEscape(std::string& out, unsigned char byte) {
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\x%02X", byte);
    out += escape;
}

// Characters that change how a terminal shows what follows them.
bool IsFormatting(std::uint32_t code) {
    return (code >= 0x80 && code <= 0x9F) ||      // C1 controls (0x9B is CSI)
           code == 0x200E || code == 0x200F ||    // directional marks
           (code >= 0x202A && code <= 0x202E) ||  // embeddings and overrides
           (code >= 0x2066 && code <= 0x2069) ||  // isolates
           code == 0x2028 || code == 0x2029;      // line and paragraph separators
}

}  // namespace

std::size_t DecodeUtf8(std::string_view text, std::size_t at, std::uint32_t& code) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3Fu);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

std::string PrintableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80) {
            if (byte < 0x20 || byte == 0x7F) {
                AppendByteEscape(out, byte);
            } else if (byte == '\\') {
                out += "\\\\";
            } else {
                out += static_cast<char>(byte);
            }
            ++at;
            continue;
        }
        std::uint32_t code = 0;
        const std::size_t length = DecodeUtf8(text, at, code);
        if (length == 0) {
            AppendByteEscape(out, byte);
            ++at;
            continue;
        }
        if (IsFormatting(code)) {
            char escape[12];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(code));
            out += escape;
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

}  // namespace tq5::app
