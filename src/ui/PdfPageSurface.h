// The drawing surface of one PDF sheet: a band of a marked page (whole text lines) drawn
// through the screen's QPainter surface. A text line belongs to the sheet whose band holds the
// top of its cell, so each line is printed once and whole, descenders included; cells starting
// outside the band's width are left out. Strokes and the margin line are clipped to the band,
// and a segment wholly above or below it is left out (every sheet draws every stroke).
#pragma once

#include "ui/QPainterSurface.h"

#include <vector>

class QPainter;

namespace tallyport {

class PdfPageSurface final : public DrawingSurface {
public:
    // `band` in page pixels, as `painter` draws them; the stroke pen starts as `pen`.
    PdfPageSurface(QPainter& painter, PixelRect band, Colour pen);

    void SetTextColor(Colour colour) override { page_.SetTextColor(colour); }
    void TextOut(int32_t x, int32_t y, std::string_view characters) override;
    void MoveTo(int32_t x, int32_t y) override;
    void LineTo(int32_t x, int32_t y) override;
    void SaveDC() override;
    void RestoreDC() override;
    void SelectPen(Colour colour) override { page_.SelectPen(colour); }
    PixelSize GetTextExtent(std::string_view text) override { return page_.GetTextExtent(text); }
    std::optional<PixelRect> DirtyArea() const override { return band_; }

private:
    QPainter& painter_;
    PixelRect band_;
    QPainterSurface page_;
    int32_t positionY_ = 0; // kept with the saved states, as the surface keeps its position
    std::vector<int32_t> savedY_;
};

} // namespace tallyport
