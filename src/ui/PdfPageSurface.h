// The drawing surface of one PDF sheet: a band of a marked page (whole text lines) drawn
// through the screen's QPainter surface. A text line belongs to the sheet whose band holds the
// top of its cell, so each line is printed once and whole, descenders included; cells starting
// outside the band's width are left out. Strokes and the margin line are clipped to the band,
// and a segment wholly above or below it is left out (every sheet draws every stroke).
//
// Cells are gathered while the text colour stays the same and drawn as one glyph run, each
// glyph at its own cell's position: the PDF gets the same characters in the same places and
// order for a fraction of the cost of laying out every character alone. A stroke, a colour
// change and Flush() draw what is gathered first, so what is drawn later stays on top.
#pragma once

#include "ui/QPainterSurface.h"

#include <QList>
#include <QPointF>

#include <vector>

class QPainter;

namespace tallyport {

class PageGlyphs;

class PdfPageSurface final : public DrawingSurface {
public:
    // `band` in page pixels, as `painter` draws them; the stroke pen starts as `pen`. `glyphs`
    // is the painter's font's.
    PdfPageSurface(QPainter& painter, PixelRect band, Colour pen, PageGlyphs& glyphs);

    void SetTextColor(Colour colour) override;
    void TextOut(int32_t x, int32_t y, std::string_view characters) override;
    void MoveTo(int32_t x, int32_t y) override;
    void LineTo(int32_t x, int32_t y) override;
    void SaveDC() override;
    void RestoreDC() override;
    void SelectPen(Colour colour) override { page_.SelectPen(colour); }
    PixelSize GetTextExtent(std::string_view text) override { return page_.GetTextExtent(text); }
    std::optional<PixelRect> DirtyArea() const override { return band_; }

    // Draws the gathered cells; call before the painter's state changes and at the sheet's end.
    void Flush();

private:
    QPainter& painter_;
    PixelRect band_;
    QPainterSurface page_;
    PageGlyphs& glyphs_;
    int ascent_;
    Colour textColour_ = kBlack;
    std::vector<Colour> savedColours_;
    int32_t positionY_ = 0; // kept with the saved states, as the surface keeps its position
    std::vector<int32_t> savedY_;
    QList<quint32> runGlyphs_;
    QList<QPointF> runPositions_;
};

} // namespace tallyport
