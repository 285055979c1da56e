// What a page cell shows: the page keeps one cell per byte of text (markings and the protocol
// count bytes), so a character of several UTF-8 bytes is drawn in the first of its cells and
// leaves the others empty; a byte of Windows-1252 text is one character in one cell.
#pragma once

#include "protocol/EightBitText.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace tallyport {

struct CellGlyph {
    std::array<char, 4> utf8{}; // the character to draw, in UTF-8
    uint8_t size = 0;           // bytes of utf8 in use
    uint8_t cells = 1;          // bytes of the text (and so cells) the character covers

    std::string_view text() const { return {utf8.data(), size}; }
};

// The character that `text` (not empty) begins with, read in `encoding`. A byte that is no
// character (undefined in Windows-1252, or UTF-8 that does not decode) shows the replacement
// character in its one cell, so nothing is silently left out.
CellGlyph FirstGlyph(std::string_view text, TextEncoding encoding);

} // namespace tallyport
