#include "marking/TextBlock.h"

#include "marking/CellGlyph.h"
#include "marking/PageScale.h"

#include <algorithm>
#include <cstring>

namespace tallyport {
namespace {

constexpr std::string_view kSpace = " ";

// Where drawing is needed, in pixels: the surface's dirty area grown by a margin wide enough
// that a glyph reaching past its cell is never cut off. `all` when the whole page is wanted.
struct DrawWindow {
    bool all = true;
    int64_t left = 0;
    int64_t top = 0;
    int64_t right = 0;
    int64_t bottom = 0;
};

DrawWindow WindowOf(const DrawingSurface& surface) {
    const auto area = surface.DirtyArea();
    if (!area)
        return {};
    const int64_t margin = 2 * int64_t(PageFontPixelHeight()) + 2;
    return {false, area->left - margin, area->top - margin, area->right + margin,
            area->bottom + margin};
}

// A piece followed by a separator loses its last dropBefore characters, or with dropBefore 0
// the CR before the separator.
std::string_view DrawnPiece(std::string_view piece, bool followedBySeparator, int32_t dropBefore) {
    if (!followedBySeparator)
        return piece;
    if (dropBefore > 0)
        return piece.substr(0,
                            piece.size() > std::size_t(dropBefore) ? piece.size() - dropBefore : 0);
    if (!piece.empty() && piece.back() == '\r')
        piece.remove_suffix(1);
    return piece;
}

// The tab stop width that drawing and measuring use.
int64_t TabStop(int32_t tabWidth) {
    return std::min(tabWidth, kMaxDrawnTabWidth);
}

// Columns a tab at `column` advances: to the next stop, at least one; none when tabs are dropped.
int64_t TabAdvance(int64_t column, int64_t stop) {
    return stop <= 0 ? 0 : stop - column % stop;
}

// One text line at page x and pixel row py: each character alone in its cell.
void DrawLine(DrawingSurface& surface, int32_t x, int32_t py, std::string_view characters,
              int32_t tabWidth, TextEncoding encoding, const DrawWindow& window) {
    const int64_t stop = TabStop(tabWidth);
    int64_t column = 0;
    int64_t px = x;
    // Draws one cell (nothing for an empty one); false once the cells have passed the right
    // edge of the window.
    auto cell = [&](std::string_view character) {
        const int32_t pixel = PageToPixelX(px);
        px += kUnitsPerCell;
        if (!window.all && pixel > window.right)
            return false;
        if (!character.empty() && (window.all || pixel >= window.left))
            surface.TextOut(pixel, py, character);
        return true;
    };
    for (std::size_t i = 0; i < characters.size();) {
        if (characters[i] != '\t') {
            const CellGlyph glyph = FirstGlyph(characters.substr(i), encoding);
            if (!cell(glyph.text()))
                return;
            for (int k = 1; k < glyph.cells; ++k) // the rest of a character's bytes stay empty
                if (!cell({}))
                    return;
            column += glyph.cells;
            i += glyph.cells;
            continue;
        }
        ++i;
        const int64_t n = TabAdvance(column, stop);
        for (int64_t k = 0; k < n; ++k)
            if (!cell(kSpace))
                return;
        column += n;
    }
}

} // namespace

std::string_view DrawnPart(std::string_view text) {
    const void* nul = std::memchr(text.data(), '\0', text.size());
    return nul ? text.substr(0, static_cast<const char*>(nul) - text.data()) : text;
}

int64_t DrawnColumns(std::string_view line, int32_t tabWidth) {
    const int64_t stop = TabStop(tabWidth);
    int64_t column = 0;
    for (;;) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
            return column + int64_t(line.size());
        column += int64_t(tab);
        column += TabAdvance(column, stop);
        line.remove_prefix(tab + 1);
    }
}

void DrawTextBlock(DrawingSurface& surface, int32_t x, int32_t y, std::string_view text,
                   char separator, int32_t dropBefore, int32_t tabWidth, TextEncoding encoding) {
    text = DrawnPart(text);
    const DrawWindow window = WindowOf(surface);
    int64_t lineY = y;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        const bool last = end == std::string_view::npos;
        const std::string_view piece =
            text.substr(start, last ? std::string_view::npos : end - start);
        const int32_t py = PageToPixelY(lineY);
        if (!window.all && py > window.bottom)
            return;
        if (window.all || py >= window.top)
            DrawLine(surface, x, py, DrawnPiece(piece, !last, dropBefore), tabWidth, encoding,
                     window);
        if (last)
            return;
        start = end + 1;
        lineY += kUnitsPerCell;
    }
}

PageSize MeasureText(std::string_view text, char separator, int32_t dropBefore, int32_t tabWidth) {
    text = DrawnPart(text);
    int64_t widest = 0;
    int64_t pieces = 1;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            widest = std::max(widest, DrawnColumns(text.substr(start), tabWidth));
            break;
        }
        // A piece followed by a separator counts without its last dropBefore characters (a CR
        // before LF, with dropBefore 0, is counted).
        const std::size_t length = end - start;
        const std::size_t dropped = std::min<std::size_t>(length, std::max(dropBefore, 0));
        widest = std::max(widest, DrawnColumns(text.substr(start, length - dropped), tabWidth));
        ++pieces;
        start = end + 1;
    }
    return {ClampToInt32(widest * kUnitsPerCell), ClampToInt32(pieces * kUnitsPerCell)};
}

std::vector<uint32_t> PieceStarts(std::string_view text, char separator) {
    std::vector<uint32_t> starts{0};
    for (const char *p = text.data(), *end = text.data() + text.size();
         (p = static_cast<const char*>(std::memchr(p, separator, end - p))) != nullptr;)
        starts.push_back(uint32_t(++p - text.data()));
    return starts;
}

void DrawIndexedTextBlock(DrawingSurface& surface, int32_t x, int32_t y, std::string_view text,
                          const std::vector<uint32_t>& starts, int32_t dropBefore, int32_t tabWidth,
                          TextEncoding encoding) {
    if (starts.empty())
        return;
    const DrawWindow window = WindowOf(surface);
    const std::size_t count = starts.size();
    auto rowOf = [&](std::size_t i) {
        return PageToPixelY(int64_t(y) + int64_t(i) * kUnitsPerCell);
    };
    std::size_t first = 0;
    if (!window.all) { // the rows grow with the index: find the first one inside the window
        std::size_t low = 0, high = count;
        while (low < high) {
            const std::size_t mid = low + (high - low) / 2;
            if (rowOf(mid) < window.top)
                low = mid + 1;
            else
                high = mid;
        }
        first = low;
    }
    for (std::size_t i = first; i < count; ++i) {
        const int32_t py = rowOf(i);
        if (!window.all && py > window.bottom)
            return;
        const bool last = i + 1 == count;
        const std::size_t end = last ? text.size() : starts[i + 1] - 1; // before the separator
        const std::string_view piece = text.substr(starts[i], end - starts[i]);
        DrawLine(surface, x, py, DrawnPiece(piece, !last, dropBefore), tabWidth, encoding, window);
    }
}

} // namespace tallyport
