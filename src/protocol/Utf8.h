// Strict UTF-8: the shortest form only, no surrogates, nothing above U+10FFFF.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

struct Utf8Character {
    char32_t codePoint = 0;
    std::size_t length = 0; // bytes, 1 to 4
};

// The character that `text` begins with; nothing when its first bytes are no valid character.
std::optional<Utf8Character> DecodeUtf8(std::string_view text);

bool IsValidUtf8(std::string_view text);

// Characters in valid UTF-8 text (bytes that begin one).
std::size_t CountUtf8Characters(std::string_view text);

// UTF-16 code units of valid UTF-8 text; a replacement character for what does not decode.
std::u16string Utf8ToUtf16(std::string_view text);

// The character's bytes appended; a code point that no character has becomes the
// replacement character.
void AppendUtf8(std::string& text, char32_t codePoint);

// Moves the bytes below 0x80 that `from` begins with to the end of `to`. They are ASCII, the same
// in UTF-8 and in Windows-1252, so that converters copy such a run whole.
inline void MoveAsciiRun(std::string_view& from, std::string& to) {
    std::size_t n = 0;
    while (n < from.size() && static_cast<unsigned char>(from[n]) < 0x80)
        ++n;
    to.append(from.substr(0, n));
    from.remove_prefix(n);
}

} // namespace tallyport
