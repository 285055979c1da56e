#include "protocol/Utf8.h"

#include <cstdint>

namespace tallyport {
namespace {

bool IsContinuation(uint8_t byte) {
    return (byte & 0xC0) == 0x80;
}

bool IsCharacter(char32_t codePoint) {
    return codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
}

} // namespace

std::optional<Utf8Character> DecodeUtf8(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    const uint8_t lead = uint8_t(text[0]);
    if (lead < 0x80)
        return Utf8Character{lead, 1};
    std::size_t length = 0;
    char32_t codePoint = 0;
    char32_t smallest = 0; // below this the same character has a shorter form
    if ((lead & 0xE0) == 0xC0) {
        length = 2, codePoint = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, codePoint = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, codePoint = lead & 0x07, smallest = 0x10000;
    } else {
        return std::nullopt; // a continuation byte or 0xF8-0xFF
    }
    if (text.size() < length)
        return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const uint8_t byte = uint8_t(text[i]);
        if (!IsContinuation(byte))
            return std::nullopt;
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    if (codePoint < smallest || !IsCharacter(codePoint))
        return std::nullopt;
    return Utf8Character{codePoint, length};
}

bool IsValidUtf8(std::string_view text) {
    while (!text.empty()) {
        if (uint8_t(text[0]) < 0x80) { // ASCII runs are most of any text
            text.remove_prefix(1);
            continue;
        }
        const std::optional<Utf8Character> character = DecodeUtf8(text);
        if (!character)
            return false;
        text.remove_prefix(character->length);
    }
    return true;
}

std::size_t CountUtf8Characters(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text)
        count += !IsContinuation(uint8_t(c));
    return count;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string units;
    units.reserve(text.size());
    while (!text.empty()) {
        const std::optional<Utf8Character> character = DecodeUtf8(text);
        const char32_t c = character ? character->codePoint : char32_t(0xFFFD);
        text.remove_prefix(character ? character->length : 1);
        if (c < 0x10000) {
            units.push_back(char16_t(c));
        } else {
            units.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
            units.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
    }
    return units;
}

void AppendUtf8(std::string& text, char32_t codePoint) {
    if (!IsCharacter(codePoint))
        codePoint = 0xFFFD;
    if (codePoint < 0x80) {
        text.push_back(char(codePoint));
    } else if (codePoint < 0x800) {
        text.push_back(char(0xC0 | (codePoint >> 6)));
        text.push_back(char(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        text.push_back(char(0xE0 | (codePoint >> 12)));
        text.push_back(char(0x80 | ((codePoint >> 6) & 0x3F)));
        text.push_back(char(0x80 | (codePoint & 0x3F)));
    } else {
        text.push_back(char(0xF0 | (codePoint >> 18)));
        text.push_back(char(0x80 | ((codePoint >> 12) & 0x3F)));
        text.push_back(char(0x80 | ((codePoint >> 6) & 0x3F)));
        text.push_back(char(0x80 | (codePoint & 0x3F)));
    }
}

} // namespace tallyport
