#include "win32/dialog_template_reader.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>

namespace tq5::test {
namespace {

class Cursor {
public:
    Cursor(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    bool ok() const { return ok_; }

    template <typename T>
    T Read() {
        T value{};
        if (offset_ + sizeof(T) > size_) {
            ok_ = false;
            return value;
        }
        std::memcpy(&value, bytes_ + offset_, sizeof(T));
        offset_ += sizeof(T);
        return value;
    }

    // Zero-terminated UTF-16 text; the templates here hold ASCII only.
    std::string ReadText() {
        std::string text;
        for (std::uint16_t c = Read<std::uint16_t>(); ok_ && c != 0; c = Read<std::uint16_t>()) {
            text += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return text;
    }

    // sz_Or_Ord: nothing, an ordinal (0xFFFF then the number) or a text. Class ordinals
    // stand for the predefined classes; other ordinals (an icon's id) read as "#<id>".
    std::string ReadTextOrOrdinal(bool isClass) {
        if (offset_ + 2 > size_) {
            ok_ = false;
            return {};
        }
        std::uint16_t first = 0;
        std::memcpy(&first, bytes_ + offset_, 2);
        if (first == 0) {
            offset_ += 2;
            return {};
        }
        if (first == 0xFFFF) {
            offset_ += 2;
            const std::uint16_t ordinal = Read<std::uint16_t>();
            return isClass ? ClassName(ordinal) : OrdinalText(ordinal);
        }
        return ReadText();
    }

    void Skip(std::size_t count) {
        if (offset_ + count > size_) ok_ = false;
        offset_ += count;
    }

    void AlignToDword() { offset_ = (offset_ + 3) & ~std::size_t{3}; }

private:
    static std::string ClassName(std::uint16_t ordinal) {
        switch (ordinal) {
            case 0x80:
                return "Button";
            case 0x81:
                return "Edit";
            case 0x82:
                return "Static";
            case 0x83:
                return "ListBox";
            case 0x84:
                return "ScrollBar";
            case 0x85:
                return "ComboBox";
            default:
                return OrdinalText(ordinal);
        }
    }

    static std::string OrdinalText(std::uint16_t ordinal) {
        std::string text(1, '#');
        text += std::to_string(ordinal);
        return text;
    }

    const std::uint8_t* bytes_;
    std::size_t size_;
    std::size_t offset_ = 0;
    bool ok_ = true;
};

}  // namespace

std::optional<DialogTemplate> ReadDialogTemplate(const std::uint8_t* bytes, std::size_t size) {
    Cursor in(bytes, size);
    if (in.Read<std::uint16_t>() != 1 || in.Read<std::uint16_t>() != 0xFFFF) return std::nullopt;
    DialogTemplate dialog;
    in.Read<std::uint32_t>();  // help id
    dialog.exStyle = in.Read<std::uint32_t>();
    dialog.style = in.Read<std::uint32_t>();
    const std::uint16_t count = in.Read<std::uint16_t>();
    dialog.x = in.Read<std::int16_t>();
    dialog.y = in.Read<std::int16_t>();
    dialog.cx = in.Read<std::int16_t>();
    dialog.cy = in.Read<std::int16_t>();
    in.ReadTextOrOrdinal(false);  // menu
    in.ReadTextOrOrdinal(true);   // window class
    dialog.title = in.ReadText();
    if ((dialog.style & (DS_SETFONT | DS_SHELLFONT)) != 0) {
        dialog.pointSize = in.Read<std::uint16_t>();
        in.Read<std::uint16_t>();  // weight
        in.Read<std::uint8_t>();   // italic
        in.Read<std::uint8_t>();   // charset
        dialog.typeface = in.ReadText();
    }
    for (std::uint16_t i = 0; i < count && in.ok(); ++i) {
        in.AlignToDword();
        DialogItem item;
        in.Read<std::uint32_t>();  // help id
        item.exStyle = in.Read<std::uint32_t>();
        item.style = in.Read<std::uint32_t>();
        item.x = in.Read<std::int16_t>();
        item.y = in.Read<std::int16_t>();
        item.cx = in.Read<std::int16_t>();
        item.cy = in.Read<std::int16_t>();
        item.id = in.Read<std::int32_t>();
        item.className = in.ReadTextOrOrdinal(true);
        item.text = in.ReadTextOrOrdinal(false);
        in.Skip(in.Read<std::uint16_t>());  // creation data
        dialog.items.push_back(item);
    }
    if (!in.ok()) return std::nullopt;
    return dialog;
}

std::optional<DialogTemplate> LoadDialogTemplate(int id) {
    HRSRC info = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
    if (info == nullptr) return std::nullopt;
    const void* bytes = LockResource(LoadResource(nullptr, info));
    if (bytes == nullptr) return std::nullopt;
    return ReadDialogTemplate(static_cast<const std::uint8_t*>(bytes),
                              SizeofResource(nullptr, info));
}

}  // namespace tq5::test
