#include "marking/CellGlyph.h"

#include "protocol/Utf8.h"
#include "protocol/Windows1252.h"

#include <string>

namespace tallyport {
namespace {

CellGlyph GlyphOf(char32_t character, std::size_t cells) {
    std::string utf8;
    AppendUtf8(utf8, character);
    CellGlyph glyph;
    glyph.size = uint8_t(utf8.size());
    glyph.cells = uint8_t(cells);
    utf8.copy(glyph.utf8.data(), glyph.utf8.size());
    return glyph;
}

} // namespace

CellGlyph FirstGlyph(std::string_view text, TextEncoding encoding) {
    const uint8_t first = uint8_t(text.front());
    if (first < 0x80) {
        CellGlyph glyph;
        glyph.utf8[0] = char(first);
        glyph.size = 1;
        return glyph;
    }
    if (encoding == TextEncoding::Utf8)
        if (const std::optional<Utf8Character> character = DecodeUtf8(text))
            return GlyphOf(character->codePoint, character->length);
    return GlyphOf(Windows1252ToUnicode(first).value_or(kReplacementCharacter), 1);
}

} // namespace tallyport
