// The Windows-1252 character set, both ways: the 8-bit text of marker comments, marker names and
// files written on the course's original platform. Bytes 0x80-0x9F hold typographic characters
// (quotes, dashes, the euro sign); five of them (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

// Shown in place of a byte that stands for no character.
inline constexpr char32_t kReplacementCharacter = U'\uFFFD';

// The character a byte stands for; nothing for the five undefined bytes.
std::optional<char32_t> Windows1252ToUnicode(uint8_t byte);

// The byte that stands for a character; nothing when the set has none for it.
std::optional<uint8_t> UnicodeToWindows1252(char32_t character);

// Every byte as its character in UTF-8; an undefined byte becomes the replacement character.
std::string Windows1252ToUtf8(std::string_view bytes);

// UTF-8 text as Windows-1252 bytes; nothing when the text is not valid UTF-8 or holds a
// character the set cannot hold.
std::optional<std::string> Utf8ToWindows1252(std::string_view text);

} // namespace tallyport
