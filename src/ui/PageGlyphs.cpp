#include "ui/PageGlyphs.h"

#include "protocol/Utf8.h"

#include <QFont>

namespace tallyport {

PageGlyphs::PageGlyphs(const QFont& font) : font_(QRawFont::fromFont(font)) {
    ascii_.fill(kUnknown);
}

std::optional<quint32> PageGlyphs::Of(std::string_view character) {
    if (character.size() == 1 && uint8_t(character[0]) < 0x80) {
        int64_t& known = ascii_[uint8_t(character[0])];
        if (known == kUnknown) {
            const auto glyph = Look(char32_t(character[0]));
            known = glyph ? int64_t(*glyph) : kNone;
        }
        return known == kNone ? std::nullopt : std::optional<quint32>(quint32(known));
    }
    const auto decoded = DecodeUtf8(character);
    if (!decoded || decoded->length != character.size())
        return std::nullopt;
    const auto found = others_.find(decoded->codePoint);
    if (found != others_.end())
        return found->second;
    return others_[decoded->codePoint] = Look(decoded->codePoint);
}

std::optional<quint32> PageGlyphs::Look(char32_t codePoint) {
    // Control characters are left to text drawing, which shows them as the screen does.
    const bool control = codePoint < 0x20 || (codePoint >= 0x7f && codePoint < 0xa0);
    if (control || !font_.isValid() || !font_.supportsCharacter(uint(codePoint)))
        return std::nullopt;
    const QString text = QString::fromUcs4(&codePoint, 1);
    quint32 glyph = 0;
    int count = 1;
    if (!font_.glyphIndexesForChars(text.constData(), int(text.size()), &glyph, &count) ||
        count != 1 || glyph == 0)
        return std::nullopt;
    return glyph;
}

} // namespace tallyport
