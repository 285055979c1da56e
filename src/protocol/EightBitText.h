// 8-bit text of unknown origin: a file written on Linux is UTF-8, one written on the course's
// original platform (and every marker comment and marker name) is Windows-1252.
#pragma once

#include <string>
#include <string_view>

namespace tallyport {

enum class TextEncoding { Windows1252, Utf8 };

// UTF-8 when the text is valid UTF-8 holding a character beyond ASCII, else Windows-1252 (pure
// ASCII reads the same either way).
TextEncoding EncodingOf(std::string_view text);

// The text in UTF-8: as it is when it is valid UTF-8, else every byte read as Windows-1252.
std::string EightBitTextToUtf8(std::string_view text);

// Text that mixes names from this platform's disk (UTF-8) with 8-bit text from the server: every
// well-formed UTF-8 sequence is its character, every other byte its Windows-1252 character.
std::string MixedTextToUtf8(std::string_view text);

} // namespace tallyport
