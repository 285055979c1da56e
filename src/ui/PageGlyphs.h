// The page font's glyph for each character, looked up once for a whole PDF, so that text can be
// drawn as glyph runs placed cell by cell instead of laid out a character at a time. A character
// the font lacks has none: it is drawn as text, which falls back to another font as on screen.
#pragma once

#include <QRawFont>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>

class QFont;

namespace tallyport {

class PageGlyphs {
public:
    explicit PageGlyphs(const QFont& font);

    const QRawFont& font() const { return font_; }
    // The glyph of `character` (one character in UTF-8); nothing for anything else.
    std::optional<quint32> Of(std::string_view character);

private:
    static constexpr int64_t kUnknown = -2;
    static constexpr int64_t kNone = -1;

    std::optional<quint32> Look(char32_t codePoint);

    QRawFont font_;
    std::array<int64_t, 128> ascii_; // kUnknown until looked up, kNone when the font lacks it
    std::unordered_map<char32_t, std::optional<quint32>> others_;
};

} // namespace tallyport
