// Multi-line text in the fixed character grid: every character in its own 10-unit cell, tabs
// expanded to stops, pieces split at a separator one line apart. Source text is split at LF
// (dropping a CR before it); comment text at BEL (dropping the CR stored before it).
#pragma once

#include "marking/DrawingSurface.h"
#include "protocol/EightBitText.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace tallyport {

inline constexpr char kLineFeed = '\n';
inline constexpr char kCommentBreak = '\a'; // a comment's line break is stored as CR BEL
inline constexpr int32_t kCommentTabWidth = 8;

// A tab never advances further than this when drawn: a tab width from a server in the
// millions would otherwise draw millions of cells.
inline constexpr int32_t kMaxDrawnTabWidth = 1000;

// Width and height in page units.
struct PageSize {
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const PageSize&, const PageSize&) = default;
};

// The text up to its first NUL byte: the part that is drawn and measured.
std::string_view DrawnPart(std::string_view text);

// (x, y) in page units. Bytes are read in `encoding`, one cell each (CellGlyph).
void DrawTextBlock(DrawingSurface& surface, int32_t x, int32_t y, std::string_view text,
                   char separator, int32_t dropBefore, int32_t tabWidth,
                   TextEncoding encoding = TextEncoding::Windows1252);

// Widest piece times 10, pieces times 10. A piece is as wide as it is drawn with `tabWidth`,
// tabs expanded, so that the page holds the end of every line.
PageSize MeasureText(std::string_view text, char separator, int32_t dropBefore, int32_t tabWidth);

// The columns a line takes when drawn: one per byte, a tab to the next stop (none with a width
// of 0 or less).
int64_t DrawnColumns(std::string_view line, int32_t tabWidth);

// Offsets where the pieces of `text` begin (the first is 0); `text` is already cut at its NUL.
std::vector<uint32_t> PieceStarts(std::string_view text, char separator);

// DrawTextBlock for a text whose piece starts are known (from PieceStarts), so that only the
// pieces in the surface's dirty area are visited. Draws exactly what DrawTextBlock draws there.
void DrawIndexedTextBlock(DrawingSurface& surface, int32_t x, int32_t y, std::string_view text,
                          const std::vector<uint32_t>& starts, int32_t dropBefore, int32_t tabWidth,
                          TextEncoding encoding = TextEncoding::Windows1252);

} // namespace tallyport
