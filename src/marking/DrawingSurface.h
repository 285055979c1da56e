// The drawing operations that page drawing needs, in device pixels: text in the selected page
// font, text colour, a solid pen, lines, saving and restoring the selected objects, and text
// measurement. The screen (QPainter), the picture files (libEMF) and the tests implement it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tallyport {

struct Colour {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    friend bool operator==(const Colour&, const Colour&) = default;
};

inline constexpr Colour kBlack{0, 0, 0};
inline constexpr Colour kWhite{255, 255, 255};
inline constexpr Colour kRed{255, 0, 0};
inline constexpr Colour kGreen{0, 255, 0};
inline constexpr Colour kBlue{0, 0, 255};

struct PixelSize {
    int32_t cx = 0;
    int32_t cy = 0;
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// Right and bottom are exclusive.
struct PixelRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

class DrawingSurface {
public:
    virtual ~DrawingSurface() = default;

    virtual void SetTextColor(Colour colour) = 0;
    // The characters (UTF-8) with the top-left corner of their cell at (x, y). Page drawing
    // passes one character per call, already decoded from the page's 8-bit text (CellGlyph).
    virtual void TextOut(int32_t x, int32_t y, std::string_view characters) = 0;
    virtual void MoveTo(int32_t x, int32_t y) = 0;
    // A line from the current position to (x, y) in the selected pen; (x, y) becomes current.
    virtual void LineTo(int32_t x, int32_t y) = 0;
    // Save and restore the selected pen, font and colours (RestoreDC(-1): the latest save).
    virtual void SaveDC() = 0;
    virtual void RestoreDC() = 0;
    // Creates a solid pen of width 1 and selects it.
    virtual void SelectPen(Colour colour) = 0;
    // Width and height in pixels of the (UTF-8) string in the selected font.
    virtual PixelSize GetTextExtent(std::string_view text) = 0;

    // The part of the surface that needs drawing; nothing means all of it. Drawing may leave out
    // what lies wholly outside it, so that a repaint costs what the exposed area needs.
    virtual std::optional<PixelRect> DirtyArea() const { return std::nullopt; }
};

} // namespace tallyport
