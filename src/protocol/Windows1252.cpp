#include "protocol/Windows1252.h"

#include "protocol/Utf8.h"

#include <array>

namespace tallyport {
namespace {

// 0x80-0x9F; 0 where the byte stands for nothing. Every other byte is its own code point.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,      // 88-8F
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178, // 98-9F
};

} // namespace

std::optional<char32_t> Windows1252ToUnicode(uint8_t byte) {
    if (byte < 0x80 || byte > 0x9F)
        return char32_t(byte);
    const char32_t character = kHighControls[byte - 0x80];
    if (character == 0)
        return std::nullopt;
    return character;
}

std::optional<uint8_t> UnicodeToWindows1252(char32_t character) {
    if (character < 0x80 || (character >= 0xA0 && character <= 0xFF))
        return uint8_t(character);
    for (std::size_t i = 0; i < kHighControls.size(); ++i)
        if (kHighControls[i] != 0 && kHighControls[i] == character)
            return uint8_t(0x80 + i);
    return std::nullopt;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    while (!bytes.empty()) {
        MoveAsciiRun(bytes, text);
        if (bytes.empty())
            break;
        AppendUtf8(text, Windows1252ToUnicode(uint8_t(bytes[0])).value_or(kReplacementCharacter));
        bytes.remove_prefix(1);
    }
    return text;
}

std::optional<std::string> Utf8ToWindows1252(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    while (!text.empty()) {
        MoveAsciiRun(text, bytes);
        if (text.empty())
            break;
        const std::optional<Utf8Character> character = DecodeUtf8(text);
        if (!character)
            return std::nullopt;
        const std::optional<uint8_t> byte = UnicodeToWindows1252(character->codePoint);
        if (!byte)
            return std::nullopt;
        bytes.push_back(char(*byte));
        text.remove_prefix(character->length);
    }
    return bytes;
}

} // namespace tallyport
